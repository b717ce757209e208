// GoogleTest main for the console suites: one QApplication for the process,
// on the offscreen platform unless another is asked for.
#include <gtest/gtest.h>

#include <QApplication>

#include "EngineHost.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HostEngineHandOffs();
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  StopHostingEngineHandOffs();
  return rc;
}
