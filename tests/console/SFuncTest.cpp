// The helper unit: message boxes, GUIDs, the executable's directory and the
// failure report of a command that raised.
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "ConsoleFixture.h"
#include "SFunc.h"

namespace {

TEST_F(ConsoleTest, MsgBoxUsesTheTitleForAnEmptyCaptionAndRefusesUnknownKinds) {
  EXPECT_EQ(MsgBox(3, QString(), QStringLiteral("body")), 1);
  EXPECT_EQ(MsgBox(1, QStringLiteral("输入错误"), QStringLiteral("b2")), 1);
  EXPECT_EQ(MsgBox(9, QString(), QStringLiteral("never")), -1);
  EXPECT_EQ(MsgBox(-1, QString(), QStringLiteral("never")), -1);
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].Caption, QStringLiteral("Tessiva"));
  EXPECT_EQ(Boxes[0].Kind, 3);
  EXPECT_EQ(Boxes[1].Caption, QStringLiteral("输入错误"));
}

TEST_F(ConsoleTest, MsgBoxReturnsMinusOneWhenTheBoxFails) {
  SFuncSeams::SetMsgBoxHandler(
      [](int, const QString&, const QString&) -> int { throw std::runtime_error("no display"); });
  EXPECT_EQ(MsgBox(1, QString(), QStringLiteral("x")), -1);
}

TEST(SFunc, NewGuidStrGives38UpperCaseCharactersAndNewValues) {
  static const QRegularExpression form(
      QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"));
  QSet<QString> seen;
  for (int i = 0; i < 50; ++i) {
    const QString g = NewGuidStr();
    EXPECT_EQ(g.size(), 38);
    EXPECT_TRUE(form.match(g).hasMatch()) << g.toStdString();
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 50);
}

TEST(SFunc, GetExePathEndsWithTheSeparator) {
  SFuncSeams::SetExePathOverride(QString());
  const QString p = GetExePath();
  EXPECT_TRUE(p.endsWith(QLatin1Char('/')));
  EXPECT_EQ(p, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
  SFuncSeams::SetExePathOverride(QStringLiteral("/some/dir"));
  EXPECT_EQ(GetExePath(), QStringLiteral("/some/dir/"));
  SFuncSeams::SetExePathOverride(QString());
}

TEST_F(ConsoleTest, AFailureInACommandIsReportedWithAFullStopWhenItEndsAfterTheDot) {
  struct TCase {
    const char* Message;
    const char* Shown;
  };
  for (const TCase& c :
       {TCase{"Unable to write to /x/config.ini", "Unable to write to /x/config.ini."},
        TCase{"Done.", "Done."},
        TCase{"Needs a state (file.cpp, line 3)", "Needs a state (file.cpp, line 3)"},
        TCase{"Ends with a space ", "Ends with a space "}, TCase{"ends with z", "ends with z."}}) {
    Boxes.clear();
    bool after = false;
    RunCommand([&] {
      throw std::runtime_error(c.Message);
      after = true;  // never reached
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, 4);
    EXPECT_EQ(Boxes[0].Caption, QStringLiteral("Tessiva"));
    EXPECT_EQ(Boxes[0].Body, QString::fromUtf8(c.Shown));
  }
}

}  // namespace

namespace {

TEST_F(ConsoleTest, TheFilePickerLeavesNoQtSettingsFileBehind) {
  // Qt's file dialog keeps its history in QtProject.conf under the user's
  // config folder; here that folder is a test folder.
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QString conf = home.path() + QStringLiteral("/QtProject.conf");
  const auto makeAndDrop = [] {
    QFileDialog dlg(nullptr, QString(), QString(), QStringLiteral("*"));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.show();
  };
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
  WithoutQtSettings(makeAndDrop);
  EXPECT_FALSE(QFile::exists(conf));
  // The same dialog without the guard does write it: the check can fail.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
  makeAndDrop();
  EXPECT_TRUE(QFile::exists(conf));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

}  // namespace
