#include "ConsoleApp.h"

#include <QApplication>

#include "EngineHost.h"
#include "SFunc.h"
#include "Translations.h"
#include "f_main.h"

int RunConsole(int argc, char** argv, const std::function<void(Tmain&)>& AShown) {
  QApplication app(argc, argv);
  SetApplicationTitle(QStringLiteral("Tessiva"));
  QApplication::setApplicationName(QStringLiteral("Tessiva"));
  InstallTranslations();
  HostEngineHandOffs();
  int rc = 0;
  {
    Tmain main;
    main.show();
    if (AShown) AShown(main);
    rc = app.exec();
  }
  StopHostingEngineHandOffs();
  return rc;
}
