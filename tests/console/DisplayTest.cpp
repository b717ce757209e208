// The message display: PutMessage and its cap, received publications in TEXT
// and JSON mode, strict UTF-8, log lines from other threads, the clear buttons
// and publishing without a connection.
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <thread>

#include "ConsoleFixture.h"
#include "ui_f_main.h"

namespace {

TEST_F(ConsoleTest, PutMessageClearsTheDisplayOnlyOnceItHoldsMoreThan10000Lines) {
  Tmain& w = Window();
  // 1 initial line + 9998 entries + one of two lines = 10001 lines, the
  // entry that crossed 10000 was still appended whole.
  for (int i = 1; i < kRecvLineCap - 1; ++i) w.PutMessage(QString::number(i));
  ASSERT_EQ(w.RecvLineCount(), kRecvLineCap - 1);
  w.PutMessage(QStringLiteral("two\r\nlines"));
  EXPECT_EQ(w.RecvLineCount(), kRecvLineCap + 1);
  QStringList lines = w.RecvLines();
  ASSERT_EQ(lines.size(), kRecvLineCap + 1);
  EXPECT_EQ(lines.front(), QStringLiteral("消息显示区"));
  EXPECT_EQ(lines.back(), QStringLiteral("lines"));
  // 10001 lines: the next entry clears first and becomes the first entry.
  w.PutMessage(QStringLiteral("fresh"));
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("fresh")});
  // At exactly 10000 lines the next entry is appended.
  for (int i = 1; i < kRecvLineCap; ++i) w.PutMessage(QString::number(i));
  ASSERT_EQ(w.RecvLineCount(), kRecvLineCap);
  w.PutMessage(QStringLiteral("kept"));
  EXPECT_EQ(w.RecvLineCount(), kRecvLineCap + 1);
  EXPECT_EQ(w.RecvLines().front(), QStringLiteral("fresh"));
  w.PutMessage(QStringLiteral("fresh again"));
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("fresh again")});
  // The batch timer writes the waiting entries, and the newest is in view.
  for (int i = 0; i < 200; ++i) w.PutMessage(QString::number(i));
  QScrollBar* bar = w.Form()->mmo_recv->verticalScrollBar();
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Form()->mmo_recv->blockCount() == 201; }, 10000));
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(ConsoleTest, ThePayloadIsTheEditorTextAsTypedWithCrLfLineBreaks) {
  Tmain& w = Window();
  const QString typed = QStringLiteral("价格") + QChar(0x00A0) + QStringLiteral("100\n\tline two\n");
  w.Form()->mmo_send->setPlainText(typed);
  EXPECT_EQ(w.SendText(), QStringLiteral("价格") + QChar(0x00A0) + QStringLiteral("100\r\n\tline two\r\n"));
}

TEST_F(ConsoleTest, ClearButtonsEmptyTheDisplayAndThePayload) {
  Tmain& w = Window();
  w.Form()->mmo_send->setPlainText(QStringLiteral("payload"));
  w.Form()->btn4->click();
  EXPECT_EQ(w.RecvLineCount(), 0);
  EXPECT_TRUE(w.Form()->mmo_recv->toPlainText().isEmpty());
  w.Form()->btn5->click();
  EXPECT_TRUE(w.SendText().isEmpty());
  // After a clear the next entry is the first line.
  w.PutMessage(QStringLiteral("one"));
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("one")});
}

TEST_F(ConsoleTest, ReceivedPayloadsShowAsTextOrFormattedJsonByTheModeAtArrival) {
  Tmain& w = Window();
  w.Form()->btn4->click();
  w.nelomqtclnt1PublishReceived(1, "t", "{\"a\":1}");
  w.nelomqtclnt1PublishReceived(0, "t", "");  // an empty line
  w.Form()->cbb_format_recv->setCurrentIndex(1);
  w.nelomqtclnt1PublishReceived(0, "t", "{\"a\":\"中文\"}");
  w.nelomqtclnt1PublishReceived(0, "t", "no\tbrace\r\n");
  w.nelomqtclnt1PublishReceived(0, "t", "<b>not html</b>");
  w.Form()->cbb_format_recv->setCurrentIndex(0);
  w.nelomqtclnt1PublishReceived(0, "t", "cr\rlf\nsep\u2029end");
  EXPECT_EQ(w.RecvLines(), (QStringList{"{\"a\":1}", "", "{", "  \"a\": \"中文\"", "}", "nobrace",
                                        "<b>not html</b>", "cr", "lf", "sep", "end"}));
  // The cap counts the lines the display really shows.
  EXPECT_EQ(w.RecvLineCount(), w.RecvLines().size());
}

TEST_F(ConsoleTest, PayloadsThatAreNotUtf8FailAndShowNothing) {
  Tmain& w = Window();
  w.Form()->btn4->click();
  for (const std::string& bad : {std::string("\xff\xfe"), std::string("ok\xc3"), std::string("\xc0\xaf"),
                                 std::string("\xed\xa0\x80"), std::string("\xf4\x90\x80\x80")}) {
    try {
      w.nelomqtclnt1PublishReceived(0, "t", bad);
      ADD_FAILURE() << "decoded without failure";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(),
                   "No mapping for the Unicode character exists in the target multi-byte code page");
    }
  }
  EXPECT_EQ(w.RecvLineCount(), 0);
  EXPECT_EQ(DecodePayloadUtf8("\xe4\xb8\xad"), QStringLiteral("中"));
  EXPECT_EQ(DecodePayloadUtf8("\xef\xbb\xbfx"), QString(QChar(0xFEFF)) + QLatin1Char('x'));
}

TEST_F(ConsoleTest, LogLinesFromOtherThreadsArriveInOrderAsPlainText) {
  Tmain& w = Window();
  w.Form()->btn4->click();
  std::thread worker([&w] {
    for (int i = 0; i < 500; ++i) w.nelomqtlgr1Log("line " + std::to_string(i));
  });
  worker.join();
  w.nelomqtlgr1Log("from the main thread");  // after everything queued before it
  const QStringList lines = w.RecvLines();
  ASSERT_EQ(lines.size(), 501);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(lines[i], QStringLiteral("line %1").arg(i));
  EXPECT_EQ(lines.back(), QStringLiteral("from the main thread"));
}

TEST_F(ConsoleTest, QueuedLogLinesReachTheDisplayThroughTheEventLoop) {
  Tmain& w = Window();
  w.Form()->btn4->click();
  std::thread worker([&w] { w.nelomqtlgr1Log("<i>queued</i>"); });
  worker.join();
  for (int i = 0; i < 1000 && w.RecvLineCount() == 0; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(w.RecvLines(), QStringList{QStringLiteral("<i>queued</i>")});
}

TEST_F(ConsoleTest, PublishingWithoutAConnectionIsRefusedFirst) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\ntopic=a,\n"));
  Tmain& w = Window();
  w.Form()->btn_send->click();  // topic and payload empty too
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Kind, 3);
  EXPECT_EQ(Boxes[0].Caption, QStringLiteral("输入错误"));
  EXPECT_EQ(Boxes[0].Body, QStringLiteral("未连接MQTT服务器"));
  EXPECT_TRUE(w.History().isEmpty());
  EXPECT_EQ(IniValue("p", "dvsno"), QStringLiteral("<missing>"));
}

}  // namespace
