// tessiva: the printer test console.
#include <QApplication>

#include "EngineHost.h"
#include "SFunc.h"
#include "Translations.h"
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
    rc = app.exec();
  }
  StopHostingEngineHandOffs();
  return rc;
}
