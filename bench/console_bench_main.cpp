// tessiva-console-bench: the console with its benchmark probe
// (bench/console_flood.sh). The shipped console (console/main.cpp) has none.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "EngineHost.h"
#include "SFunc.h"
#include "Translations.h"
#include "console_bench_probe.h"
#include "f_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetApplicationTitle(QStringLiteral("Tessiva"));
  QApplication::setApplicationName(QStringLiteral("Tessiva"));
  InstallTranslations();
  HostEngineHandOffs();
  int rc = 0;
  {
    Tmain main;
    main.show();
    if (StartBenchProbe(main)) {
      // The first pass of the event loop after show: the window is on screen.
      QTimer::singleShot(0, [] {
        std::printf("startup_ms %.0f\n", MsSinceProcessStart());
        std::fflush(stdout);
      });
    }
    rc = app.exec();
  }
  StopHostingEngineHandOffs();
  return rc;
}
