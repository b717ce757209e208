#include "ConsoleFixture.h"

#include <QFile>

#include "ConfigFile.h"
#include "ConsoleWidgets.h"
#include "SFunc.h"

void ConsoleTest::SetUp() {
  ASSERT_TRUE(FDir.isValid());
  SFuncSeams::SetExePathOverride(FDir.path());
  SFuncSeams::SetMsgBoxHandler([this](int AKind, const QString& ACaption, const QString& ABody) {
    Boxes.push_back({AKind, ACaption, ABody});
    return 1;
  });
  SFuncSeams::SetModalHandler([this](QDialog* ADialog) {
    ++DialogsShown;
    if (FAnswers.empty()) {
      ADD_FAILURE() << "an unexpected dialog was shown: " << ADialog->objectName().toStdString();
      return static_cast<int>(QDialog::Rejected);
    }
    auto answer = FAnswers.front();
    FAnswers.erase(FAnswers.begin());
    return answer(ADialog);
  });
  SFuncSeams::SetOpenPictureHandler([](QWidget*) {
    ADD_FAILURE() << "the picture picker was not expected";
    return QString();
  });
}

void ConsoleTest::TearDown() {
  FWindow.reset();
  SFuncSeams::SetMsgBoxHandler(nullptr);
  SFuncSeams::SetModalHandler(nullptr);
  SFuncSeams::SetOpenPictureHandler(nullptr);
  SFuncSeams::SetExePathOverride(QString());
  EXPECT_TRUE(FAnswers.empty()) << "a prepared dialog answer was not used";
}

void ConsoleTest::WriteConfig(const QString& AText) {
  QFile f(ConfigPath());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(AText.toUtf8());
}

QString ConsoleTest::ReadConfig() const {
  QFile f(ConfigPath());
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(f.readAll());
}

bool ConsoleTest::ConfigExists() const { return QFile::exists(ConfigPath()); }

Tmain& ConsoleTest::Window() {
  if (!FWindow) {
    FWindow = std::make_unique<Tmain>();
    FWindow->show();
  }
  return *FWindow;
}

void ConsoleTest::AnswerDialogs(std::vector<std::function<int(QDialog*)>> AAnswers) {
  FAnswers = std::move(AAnswers);
}

QStringList ConsoleTest::Failures() const {
  QStringList all;
  for (const TShownBox& b : Boxes) {
    if (b.Kind == 4) all << b.Body;
  }
  return all;
}

QStringList ConsoleTest::Rows(const TListBox* AList) const { return AList->Captions(); }

QString IniValue(const QString& ASection, const QString& AKey) {
  return ConfigFile().ReadString(ASection, AKey, QStringLiteral("<missing>"));
}
