// Broker profiles: first start, the profile dialog (add, edit, its input
// errors), selection loading topics and history, deletion.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ConfigFile.h"
#include "ConsoleFixture.h"
#include "ConsoleWidgets.h"
#include "ProfileStore.h"
#include "SFunc.h"
#include "f_add_server.h"
#include "ui_f_add_server.h"
#include "ui_f_main.h"

namespace {

struct TProfileInput {
  QString Name, Host, Port, User, Password;
};

// Fills the profile dialog and presses "确定"; records what the dialog showed.
std::function<int(QDialog*)> FillProfile(TProfileInput AInput, TProfileInput* AShown = nullptr,
                                         bool* ANameEnabled = nullptr, QWidget** AFocus = nullptr) {
  return [=](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_server*>(ADialog);
    EXPECT_NE(dlg, nullptr);
    if (!dlg) return static_cast<int>(QDialog::Rejected);
    Ui::Tadd_server* f = dlg->Form();
    if (AShown)
      *AShown = {f->edt_servername->text(), f->edt_server->text(), f->edt_port->text(),
                 f->edt_username->text(), f->edt_password->text()};
    if (ANameEnabled) *ANameEnabled = f->edt_servername->isEnabled();
    if (f->edt_servername->isEnabled()) f->edt_servername->setText(AInput.Name);
    f->edt_server->setText(AInput.Host);
    f->edt_port->setText(AInput.Port);
    f->edt_username->setText(AInput.User);
    f->edt_password->setText(AInput.Password);
    f->btn3->click();
    if (AFocus) *AFocus = dlg->focusWidget();
    return dlg->result();
  };
}

TEST_F(ConsoleTest, FirstStartWithoutAFileShowsEmptyListsAndWritesNothing) {
  Tmain& w = Window();
  EXPECT_EQ(w.Form()->lst_server->count(), 0);
  EXPECT_EQ(w.Form()->lst_topic->count(), 0);
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("消息显示区")});
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Tessiva v1.0"));
  EXPECT_FALSE(ConfigExists());
  // Commands that need a selected profile do nothing.
  w.Form()->lst_server->SetItemIndex(-1);
  for (const char* name : {"MQTT1", "N3", "N4"}) {
    w.findChild<QAction*>(QString::fromLatin1(name))->trigger();
  }
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(DialogsShown, 0);
  EXPECT_FALSE(ConfigExists());
}

TEST_F(ConsoleTest, AddingAProfileWritesItsKeysListsItAndSelectsTheFirstRow) {
  WriteConfig(QStringLiteral("[system]\nlist=lab,\n[lab]\nserver=h\n"));
  Tmain& w = Window();
  AnswerDialogs({FillProfile({"office", "broker.local", "$75B", "", ""})});
  w.Form()->btn1->click();
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("lab,office,"));
  EXPECT_EQ(IniValue("office", "server"), QStringLiteral("broker.local"));
  EXPECT_EQ(IniValue("office", "port"), QStringLiteral("1883"));
  EXPECT_EQ(IniValue("office", "username"), QString());
  EXPECT_EQ(IniValue("office", "password"), QString());
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Kind, 1);
  EXPECT_EQ(Boxes[0].Caption, QStringLiteral("Tessiva"));
  EXPECT_EQ(Boxes[0].Body, QStringLiteral("保存完成"));
  EXPECT_EQ(Rows(w.Form()->lst_server), (QStringList{"lab", "office"}));
  EXPECT_EQ(w.Form()->lst_server->ItemIndex(), 0);
}

TEST_F(ConsoleTest, TheFirstProfileCreatesTheFile) {
  Tmain& w = Window();
  AnswerDialogs({FillProfile({"office", "h", "1883", "u", "p w"})});
  w.Form()->btn1->click();
  EXPECT_TRUE(ConfigExists());
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("office,"));
  EXPECT_EQ(IniValue("office", "password"), QStringLiteral("p w"));
  EXPECT_EQ(Rows(w.Form()->lst_server), QStringList{"office"});
}

TEST_F(ConsoleTest, SavingAListedNameRewritesItsKeysAndAnotherCaseIsAppended) {
  WriteConfig(QStringLiteral("[system]\nlist=office,\n[office]\nserver=old\nport=1\n"));
  Tmain& w = Window();
  AnswerDialogs({FillProfile({"office", "new", "2", "", ""}), FillProfile({"Office", "newer", "3", "", ""})});
  w.Form()->btn1->click();
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("office,"));
  EXPECT_EQ(IniValue("office", "server"), QStringLiteral("new"));
  w.Form()->btn1->click();
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("office,Office,"));
  // Both rows read the one section: names match without regard to case.
  EXPECT_EQ(IniValue("office", "server"), QStringLiteral("newer"));
  EXPECT_EQ(ReadConfig().count(QStringLiteral("ffice]"), Qt::CaseInsensitive), 1);
}

TEST_F(ConsoleTest, ProfileDialogInputErrorsKeepItOpenWriteNothingAndFocusTheField) {
  struct TCase {
    TProfileInput Input;
    const char* Message;
    const char* Field;
  };
  const std::vector<TCase> cases = {
      {{"", "h", "1883", "", ""}, "请输入自定义名称", "edt_servername"},
      {{"office", "", "1883", "", ""}, "请输入服务器地址", "edt_server"},
      {{"office", "h", "", "", ""}, "请输入正确的端口号", "edt_port"},
      {{"office", "h", "abc", "", ""}, "请输入正确的端口号", "edt_port"},
      {{"office", "h", "0x", "", ""}, "请输入正确的端口号", "edt_port"},
      {{"office", "h", "1883 ", "", ""}, "请输入正确的端口号", "edt_port"},
      {{"office", "h", "99999999999", "", ""}, "请输入正确的端口号", "edt_port"},
  };
  Tmain& w = Window();
  for (const TCase& c : cases) {
    Boxes.clear();
    QWidget* focus = nullptr;
    int result = -1;
    AnswerDialogs({[&](QDialog* ADialog) {
      result = FillProfile(c.Input, nullptr, nullptr, &focus)(ADialog);
      return result;
    }});
    w.Form()->btn1->click();
    EXPECT_EQ(result, QDialog::Rejected) << c.Message;
    ASSERT_EQ(Boxes.size(), 1u) << c.Message;
    EXPECT_EQ(Boxes[0].Kind, 3);
    EXPECT_EQ(Boxes[0].Caption, QStringLiteral("输入错误"));
    EXPECT_EQ(Boxes[0].Body, QString::fromUtf8(c.Message));
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus->objectName(), QString::fromLatin1(c.Field)) << c.Message;
    EXPECT_FALSE(ConfigExists());
  }
}

TEST_F(ConsoleTest, PortsAreSavedAsParsedWithoutARangeCheck) {
  struct TCase {
    const char* Typed;
    const char* Stored;
  };
  Tmain& w = Window();
  for (const TCase& c : {TCase{"$75B", "1883"}, TCase{"0x75b", "1883"}, TCase{"  -5", "-5"},
                         TCase{"70000", "70000"}, TCase{"+0", "0"}}) {
    AnswerDialogs({FillProfile({"p", "h", c.Typed, "", ""})});
    w.Form()->btn1->click();
    EXPECT_EQ(IniValue("p", "port"), QString::fromUtf8(c.Stored)) << c.Typed;
  }
}

TEST_F(ConsoleTest, ClosingTheProfileDialogWritesNothing) {
  Tmain& w = Window();
  AnswerDialogs({[](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_server*>(ADialog);
    dlg->Form()->edt_servername->setText(QStringLiteral("office"));
    dlg->Form()->edt_server->setText(QStringLiteral("h"));
    dlg->Form()->btn_close->click();
    return dlg->result();
  }});
  w.Form()->btn1->click();
  EXPECT_FALSE(ConfigExists());
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(ConsoleTest, EditingShowsTheStoredTextsAndLocksTheName) {
  WriteConfig(QStringLiteral(
      "[system]\nlist=lab,office,\n[office]\nserver=b.local\nport=0x75B\nusername=me\npassword=pw\n"));
  Tmain& w = Window();
  w.Form()->lst_server->SetItemIndex(1);
  TProfileInput shown;
  bool nameEnabled = true;
  AnswerDialogs({FillProfile({"ignored", "c.local", "1884", "me", "pw2"}, &shown, &nameEnabled)});
  w.findChild<QAction*>(QStringLiteral("N3"))->trigger();
  EXPECT_EQ(shown.Name, QStringLiteral("office"));
  EXPECT_EQ(shown.Host, QStringLiteral("b.local"));
  EXPECT_EQ(shown.Port, QStringLiteral("0x75B"));
  EXPECT_EQ(shown.User, QStringLiteral("me"));
  EXPECT_EQ(shown.Password, QStringLiteral("pw"));
  EXPECT_FALSE(nameEnabled);
  EXPECT_EQ(IniValue("office", "server"), QStringLiteral("c.local"));
  EXPECT_EQ(IniValue("office", "port"), QStringLiteral("1884"));
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("lab,office,"));
  // Editing reloads nothing: the selection stays.
  EXPECT_EQ(w.Form()->lst_server->ItemIndex(), 1);
}

TEST_F(ConsoleTest, EditingAProfileWithoutKeysShowsEmptyFields) {
  WriteConfig(QStringLiteral("[system]\nlist=bare,\n"));
  Tmain& w = Window();
  TProfileInput shown{"x", "x", "x", "x", "x"};
  AnswerDialogs({[&](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_server*>(ADialog);
    Ui::Tadd_server* f = dlg->Form();
    shown = {f->edt_servername->text(), f->edt_server->text(), f->edt_port->text(), f->edt_username->text(),
             f->edt_password->text()};
    f->btn_close->click();
    return dlg->result();
  }});
  w.findChild<QAction*>(QStringLiteral("N3"))->trigger();
  EXPECT_EQ(shown.Name, QStringLiteral("bare"));
  EXPECT_TRUE(shown.Host.isEmpty() && shown.Port.isEmpty() && shown.User.isEmpty() &&
              shown.Password.isEmpty());
}

TEST_F(ConsoleTest, SelectingAProfileLoadsItsTopicsAndHistory) {
  WriteConfig(
      QStringLiteral("[system]\nlist=a,b,c,\n"
                     "[a]\ntopic=t/1,t/2,\ndvsno=h/a1,h/a2,\n"
                     "[b]\ndvsno=h/b,\n"
                     "[c]\ntopic=only,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"t/1", "t/2"}));
  EXPECT_EQ(f->lst_topic->ItemIndex(), 0);
  EXPECT_EQ(w.History(), (QStringList{"h/a1", "h/a2"}));
  f->edt_atopic->setEditText(QStringLiteral("typed"));

  // b has no topics: the list empties and the history stays a's.
  f->lst_server->SetItemIndex(1);
  EXPECT_EQ(f->lst_topic->count(), 0);
  EXPECT_EQ(w.History(), (QStringList{"h/a1", "h/a2"}));

  // c has topics but no history: the history empties.
  f->lst_server->SetItemIndex(2);
  EXPECT_EQ(Rows(f->lst_topic), QStringList{"only"});
  EXPECT_TRUE(w.History().isEmpty());
  EXPECT_EQ(f->edt_atopic->currentText(), QStringLiteral("typed"));
}

TEST_F(ConsoleTest, ClickingTheSelectedRowReloadsFromTheFileAndARightClickChangesNothing) {
  WriteConfig(QStringLiteral("[system]\nlist=a,b,\n[a]\ntopic=t/1,\n[b]\ntopic=t/b,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ASSERT_EQ(Rows(f->lst_topic), QStringList{"t/1"});
  WriteConfig(QStringLiteral("[system]\nlist=a,b,\n[a]\ntopic=t/1,t/9,\n[b]\ntopic=t/b,\n"));
  const QRect row0 = f->lst_server->visualItemRect(f->lst_server->item(0));
  const QRect row1 = f->lst_server->visualItemRect(f->lst_server->item(1));
  QTest::mouseClick(f->lst_server->viewport(), Qt::RightButton, {}, row1.center());
  EXPECT_EQ(f->lst_server->ItemIndex(), 0);
  EXPECT_EQ(Rows(f->lst_topic), QStringList{"t/1"});
  QTest::mouseClick(f->lst_server->viewport(), Qt::LeftButton, {}, row0.center());
  EXPECT_EQ(f->lst_server->ItemIndex(), 0);
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"t/1", "t/9"}));
  QTest::mouseClick(f->lst_server->viewport(), Qt::LeftButton, {}, row1.center());
  EXPECT_EQ(Rows(f->lst_topic), QStringList{"t/b"});
  f->lst_server->setFocus();
  QTest::keyClick(f->lst_server, Qt::Key_Up);
  EXPECT_EQ(f->lst_server->ItemIndex(), 0);
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"t/1", "t/9"}));

  // The selection can't be taken away: a click below the rows, a Ctrl click
  // or Ctrl+Space on the selected row keep it (and its topics in view).
  const QPoint below(row0.center().x(), row1.bottom() + 2 * row1.height());
  ASSERT_EQ(f->lst_server->indexAt(below).row(), -1);
  QTest::mouseClick(f->lst_server->viewport(), Qt::LeftButton, {}, below);
  QTest::mouseClick(f->lst_server->viewport(), Qt::LeftButton, Qt::ControlModifier, row0.center());
  QTest::keyClick(f->lst_server, Qt::Key_Space, Qt::ControlModifier);
  EXPECT_EQ(f->lst_server->ItemIndex(), 0);
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"t/1", "t/9"}));
}

TEST_F(ConsoleTest, DeletingAProfileErasesItsSectionAndRewritesTheList) {
  WriteConfig(
      QStringLiteral("[system]\nlist=a,b,c,\n[a]\ntopic=ta,\n[b]\nserver=hb\ntopic=tb,\n[c]\ntopic=tc,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  QAction* del = w.findChild<QAction*>(QStringLiteral("N4"));
  f->lst_server->SetItemIndex(1);
  del->trigger();
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("a,c,"));
  EXPECT_EQ(IniValue("b", "server"), QStringLiteral("<missing>"));
  EXPECT_EQ(Rows(f->lst_server), (QStringList{"a", "c"}));
  EXPECT_EQ(f->lst_server->ItemIndex(), 1);  // c moved into b's place
  // The topic list shows c's topics, never b's: a later topic command can't
  // write the deleted profile's topics into c.
  EXPECT_EQ(Rows(f->lst_topic), QStringList{"tc"});

  del->trigger();  // c, the last row: nothing is selected afterwards
  EXPECT_EQ(f->lst_server->ItemIndex(), -1);
  EXPECT_EQ(f->lst_topic->count(), 0);
  f->lst_server->SetItemIndex(0);
  del->trigger();
  EXPECT_EQ(f->lst_server->count(), 0);
  EXPECT_EQ(IniValue("system", "list"), QString());  // present, empty
  EXPECT_TRUE(ReadConfig().contains(QStringLiteral("list=")));
  EXPECT_TRUE(Failures().isEmpty());
}

TEST_F(ConsoleTest, AProfileNameWithASpaceStaysOneProfile) {
  WriteConfig(QStringLiteral("[system]\nlist=lab,\n[lab]\nserver=h\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  AnswerDialogs({FillProfile({"Lab broker", "broker.local", "1884", "u", ""})});
  f->btn1->click();
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("lab,\"Lab broker\","));
  EXPECT_EQ(Rows(f->lst_server), (QStringList{"lab", "Lab broker"}));

  // Read back from the file, the same two profiles; the one with the space
  // has its keys (connecting it reads them).
  EXPECT_EQ(ReadProfileNames(), (QStringList{"lab", "Lab broker"}));
  EXPECT_EQ(ReadProfileConnection(QStringLiteral("Lab broker")).Server, QStringLiteral("broker.local"));

  // Deleting it erases its own section and leaves the other profile listed.
  f->lst_server->SetItemIndex(1);
  w.findChild<QAction*>(QStringLiteral("N4"))->trigger();
  EXPECT_EQ(IniValue("system", "list"), QStringLiteral("lab,"));
  EXPECT_EQ(IniValue("Lab broker", "server"), QStringLiteral("<missing>"));
  EXPECT_FALSE(ReadConfig().contains(QStringLiteral("[Lab")));
  EXPECT_TRUE(Failures().isEmpty());
}

TEST_F(ConsoleTest, ARefusedListWriteAfterADeletionLeavesNoTopicsOfTheDeletedProfile) {
  WriteConfig(QStringLiteral("[system]\nlist=a,b,\n[a]\ntopic=ta,\n[b]\ntopic=tb,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ASSERT_EQ(Rows(f->lst_topic), QStringList{"ta"});
  // config.ini turns into something no write can replace.
  ASSERT_TRUE(QFile::remove(ConfigPath()));
  ASSERT_TRUE(QDir(Dir()).mkdir(QStringLiteral("config.ini")));
  w.findChild<QAction*>(QStringLiteral("N4"))->trigger();
  EXPECT_EQ(Failures(), QStringList{QStringLiteral("Unable to write to %1config.ini.").arg(Dir())});
  EXPECT_EQ(Rows(f->lst_server), QStringList{"b"});
  EXPECT_FALSE(Rows(f->lst_topic).contains(QStringLiteral("ta")));
}

TEST_F(ConsoleTest, ARefusedWriteIsReportedAndKeepsTheDialogOpen) {
  Tmain& w = Window();
  SFuncSeams::SetExePathOverride(Dir() + QStringLiteral("missing"));
  int result = -1;
  AnswerDialogs({[&](QDialog* ADialog) {
    return result = FillProfile({"office", "h", "1883", "", ""})(ADialog);
  }});
  w.Form()->btn1->click();
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(Failures(), QStringList{QStringLiteral("Unable to write to %1missing/config.ini.").arg(Dir())});
}

}  // namespace

namespace {

TEST_F(ConsoleTest, TlsSettingsAreStoredInTheProfileAndReadBackByTheDialog) {
  // A file without the TLS keys reads as TLS off with the host-name check on.
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\nserver=h\nport=8883\n"));
  Tmain& w = Window();
  bool shownTls = true, shownVerify = false;
  AnswerDialogs({[&](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_server*>(ADialog);
    shownTls = dlg->chk_tls()->isChecked();
    shownVerify = dlg->chk_verifyhost()->isChecked();
    // Saving a profile that stays without TLS adds no keys.
    dlg->Form()->btn3->click();
    return dlg->result();
  }});
  w.findChild<QAction*>(QStringLiteral("N3"))->trigger();
  EXPECT_FALSE(shownTls);
  EXPECT_TRUE(shownVerify);
  EXPECT_FALSE(ReadConfig().contains(QStringLiteral("tls")));

  AnswerDialogs({[&](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_server*>(ADialog);
    dlg->chk_tls()->setChecked(true);
    dlg->edt_cafile()->setText(QStringLiteral("/etc/ca 证书.pem"));
    dlg->edt_certfile()->setText(QStringLiteral("/c.pem"));
    dlg->edt_keyfile()->setText(QStringLiteral("/k.pem"));
    dlg->chk_verifyhost()->setChecked(false);
    dlg->Form()->btn3->click();
    return dlg->result();
  }});
  w.findChild<QAction*>(QStringLiteral("N3"))->trigger();
  EXPECT_EQ(IniValue("p", "tls"), QStringLiteral("1"));
  EXPECT_EQ(IniValue("p", "tls_cafile"), QStringLiteral("/etc/ca 证书.pem"));
  EXPECT_EQ(IniValue("p", "tls_certfile"), QStringLiteral("/c.pem"));
  EXPECT_EQ(IniValue("p", "tls_keyfile"), QStringLiteral("/k.pem"));
  EXPECT_EQ(IniValue("p", "tls_verifyhost"), QStringLiteral("0"));
  EXPECT_EQ(IniValue("p", "port"), QStringLiteral("8883"));

  // Edit mode shows what was stored; turning TLS off keeps the keys, off.
  AnswerDialogs({[&](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_server*>(ADialog);
    EXPECT_TRUE(dlg->chk_tls()->isChecked());
    EXPECT_EQ(dlg->edt_cafile()->text(), QStringLiteral("/etc/ca 证书.pem"));
    EXPECT_EQ(dlg->edt_certfile()->text(), QStringLiteral("/c.pem"));
    EXPECT_EQ(dlg->edt_keyfile()->text(), QStringLiteral("/k.pem"));
    EXPECT_FALSE(dlg->chk_verifyhost()->isChecked());
    dlg->chk_tls()->setChecked(false);
    dlg->Form()->btn3->click();
    return dlg->result();
  }});
  w.findChild<QAction*>(QStringLiteral("N3"))->trigger();
  EXPECT_EQ(IniValue("p", "tls"), QStringLiteral("0"));
  EXPECT_EQ(IniValue("p", "tls_cafile"), QStringLiteral("/etc/ca 证书.pem"));
}

}  // namespace
