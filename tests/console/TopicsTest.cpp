// Topics: the topic dialog, adding and deleting rows with the `topic` key,
// and the publish topic's clear button with the `dvsno` key.
#include <QLineEdit>
#include <QPushButton>

#include "ConsoleFixture.h"
#include "ConsoleWidgets.h"
#include "SFunc.h"
#include "f_add_topic.h"
#include "ui_f_add_topic.h"
#include "ui_f_main.h"

namespace {

std::function<int(QDialog*)> TypeTopic(const QString& ATopic, int* AResult = nullptr) {
  return [=](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tadd_topic*>(ADialog);
    EXPECT_NE(dlg, nullptr);
    if (!dlg) return static_cast<int>(QDialog::Rejected);
    dlg->Form()->edt_topic->setText(ATopic);
    dlg->Form()->btn3->click();
    if (AResult) *AResult = dlg->result();
    return dlg->result();
  };
}

TEST_F(ConsoleTest, AddingTopicsAppendsRowsWithoutADuplicateTestAndRewritesTopic) {
  WriteConfig(QStringLiteral("[system]\nlist=p,q,\n[p]\ntopic=a,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  AnswerDialogs({TypeTopic("b/#"), TypeTopic("b/#"), TypeTopic("with space")});
  f->scGPButton1->click();
  f->scGPButton1->click();
  f->scGPButton1->click();
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"a", "b/#", "b/#", "with space"}));
  EXPECT_EQ(f->lst_topic->ItemIndex(), 0);  // the selection did not move
  // A topic the reading rule would split is written as a quoted element.
  EXPECT_EQ(IniValue("p", "topic"), QStringLiteral("a,b/#,b/#,\"with space\","));
  // Read back, it is still one row.
  f->lst_server->SetItemIndex(0);
  f->lst_server->SetItemIndex(1);
  f->lst_server->SetItemIndex(0);
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"a", "b/#", "b/#", "with space"}));
}

TEST_F(ConsoleTest, TopicDialogTakesAWholeTopicAndRefusesALongerOne) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n"));
  Tmain& w = Window();
  const QString whole = QString(65535, QLatin1Char('t'));
  const QString longer = whole + QLatin1Char('t');
  AnswerDialogs({TypeTopic(whole), TypeTopic(longer)});
  w.Form()->scGPButton1->click();
  ASSERT_EQ(Rows(w.Form()->lst_topic), QStringList{whole});
  w.Form()->scGPButton1->click();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Kind, 3);
  EXPECT_TRUE(Boxes[0].Body.startsWith(QStringLiteral("主题过长"))) << Boxes[0].Body.toStdString();
  EXPECT_EQ(w.Form()->lst_topic->count(), 1);
}

TEST_F(ConsoleTest, ATopicAddedToAnEmptyListIsNotSelected) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n"));
  Tmain& w = Window();
  AnswerDialogs({TypeTopic("first")});
  w.Form()->scGPButton1->click();
  EXPECT_EQ(Rows(w.Form()->lst_topic), QStringList{"first"});
  EXPECT_EQ(w.Form()->lst_topic->ItemIndex(), -1);
  EXPECT_EQ(IniValue("p", "topic"), QStringLiteral("first,"));
}

TEST_F(ConsoleTest, TopicDialogRefusesAnEmptyTopicAndItsCloseButtonCancels) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n"));
  Tmain& w = Window();
  int result = -1;
  AnswerDialogs({TypeTopic("", &result), [](QDialog* ADialog) {
                   auto* dlg = qobject_cast<Tadd_topic*>(ADialog);
                   dlg->Form()->edt_topic->setText(QStringLiteral("t"));
                   dlg->Form()->btn_close->click();
                   return dlg->result();
                 }});
  w.Form()->scGPButton1->click();
  EXPECT_EQ(result, QDialog::Rejected);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Kind, 3);
  EXPECT_EQ(Boxes[0].Caption, QStringLiteral("输入错误"));
  EXPECT_EQ(Boxes[0].Body, QStringLiteral("请输入需要订阅的主题"));
  w.Form()->scGPButton1->click();
  EXPECT_EQ(w.Form()->lst_topic->count(), 0);
  EXPECT_EQ(IniValue("p", "topic"), QStringLiteral("<missing>"));
}

TEST_F(ConsoleTest, WithoutASelectedProfileTopicsChangeOnlyInTheWindow) {
  Tmain& w = Window();
  AnswerDialogs({TypeTopic("t")});
  w.Form()->scGPButton1->click();
  EXPECT_EQ(Rows(w.Form()->lst_topic), QStringList{"t"});
  EXPECT_FALSE(ConfigExists());
}

TEST_F(ConsoleTest, ARefusedTopicWriteIsReportedAndTheRowStays) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\ntopic=a,\n"));
  Tmain& w = Window();
  SFuncSeams::SetExePathOverride(Dir() + QStringLiteral("gone"));
  AnswerDialogs({TypeTopic("b")});
  w.Form()->scGPButton1->click();
  EXPECT_EQ(Rows(w.Form()->lst_topic), (QStringList{"a", "b"}));
  EXPECT_EQ(Failures(), QStringList{QStringLiteral("Unable to write to %1gone/config.ini.").arg(Dir())});
}

TEST_F(ConsoleTest, DeletingTopicsMovesTheSelectionAndRewritesTopic) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\ntopic=a,b,c,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  QAction* del = w.findChild<QAction*>(QStringLiteral("N8"));
  f->lst_topic->SetItemIndex(1);
  del->trigger();
  EXPECT_EQ(Rows(f->lst_topic), (QStringList{"a", "c"}));
  EXPECT_EQ(f->lst_topic->ItemIndex(), 1);
  EXPECT_EQ(IniValue("p", "topic"), QStringLiteral("a,c,"));
  del->trigger();
  EXPECT_EQ(f->lst_topic->ItemIndex(), -1);
  del->trigger();  // nothing selected: nothing happens
  EXPECT_EQ(Rows(f->lst_topic), QStringList{"a"});
  f->lst_topic->SetItemIndex(0);
  del->trigger();
  EXPECT_EQ(f->lst_topic->count(), 0);
  EXPECT_EQ(IniValue("p", "topic"), QString());
}

TEST_F(ConsoleTest, TheClearButtonEmptiesTheHistoryAndDeletesDvsno) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\ntopic=a,\ndvsno=x,y,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ASSERT_EQ(w.History(), (QStringList{"x", "y"}));
  f->edt_atopic->setEditText(QStringLiteral("typed"));
  QAction* clear = w.findChild<QAction*>(QStringLiteral("edt_atopicLeftButton"));
  ASSERT_NE(clear, nullptr);
  clear->trigger();
  EXPECT_TRUE(w.History().isEmpty());
  EXPECT_EQ(f->edt_atopic->currentText(), QString());
  EXPECT_EQ(IniValue("p", "dvsno"), QStringLiteral("<missing>"));
  EXPECT_EQ(IniValue("p", "topic"), QStringLiteral("a,"));
  f->lst_server->SetItemIndex(-1);
  f->lst_server->SetItemIndex(0);
  EXPECT_TRUE(w.History().isEmpty());
}

TEST_F(ConsoleTest, SubscribeAndUnsubscribeDoNothingWithoutASelectedTopic) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n"));
  Tmain& w = Window();
  w.findChild<QAction*>(QStringLiteral("N5"))->trigger();
  w.findChild<QAction*>(QStringLiteral("N6"))->trigger();
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("消息显示区")});
}

TEST_F(ConsoleTest, SubscribingWhileNotConnectedIsReportedAndAddsNoLine) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\ntopic=a,\n"));
  Tmain& w = Window();
  w.findChild<QAction*>(QStringLiteral("N5"))->trigger();
  w.findChild<QAction*>(QStringLiteral("N6"))->trigger();
  ASSERT_EQ(Failures().size(), 2);
  for (const QString& text : Failures()) {
    EXPECT_TRUE(text.startsWith(QStringLiteral("This action requires a connected state")))
        << text.toStdString();
  }
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("消息显示区")});
}

}  // namespace
