// tessiva: the printer test console.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "ConsoleBench.h"
#include "SFunc.h"
#include "f_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetApplicationTitle(QStringLiteral("Tessiva"));
  QApplication::setApplicationName(QStringLiteral("Tessiva"));
  Tmain main;
  main.show();
  if (StartBenchProbe(main)) {
    // The first pass of the event loop after show: the window is on screen.
    QTimer::singleShot(0, [] {
      std::printf("startup_ms %.0f\n", MsSinceProcessStart());
      std::fflush(stdout);
    });
  }
  return app.exec();
}
