// The console end to end with a real mosquitto on a free loopback port:
// connect a profile, subscribe, publish from the console and read back, and
// payloads from mosquitto_pub.
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include "ConsoleFixture.h"
#include "ConsoleWidgets.h"
#include "MessageLog.h"
#include "MosquittoBroker.h"
#include "SFunc.h"
#include "TestWait.h"
#include "ui_f_main.h"

using namespace tessiva::test;

namespace {

class ConsoleBrokerTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    Broker = std::make_unique<TMosquittoBroker>();
    Broker->Start();
  }
  void TearDown() override {
    ConsoleTest::TearDown();
    Broker.reset();
  }

  // Serves the event loop (and so the engine's hand-offs) until ACondition
  // holds; bounded by a generous limit.
  bool PumpUntil(const std::function<bool()>& ACondition) {
    QElapsedTimer t;
    t.start();
    while (!ACondition()) {
      if (t.elapsed() > kWaitLong.count()) return ACondition();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
  }
  void Pump(int ARounds = 20) {
    for (int i = 0; i < ARounds; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }

  void WriteProfiles(const QString& AExtra = QString()) {
    WriteConfig(QStringLiteral("[system]\nlist=local,other,\n[local]\nserver=127.0.0.1\nport=%1\ntopic=%2,\n"
                               "[other]\nserver=127.0.0.1\nport=0x%3\n%4")
                    .arg(Broker->Port())
                    .arg(Topic)
                    .arg(QString::number(Broker->Port(), 16))
                    .arg(AExtra));
  }
  void Trigger(const char* AAction) { Window().findChild<QAction*>(QString::fromLatin1(AAction))->trigger(); }
  void ConnectSelected() {
    Trigger("MQTT1");
    ASSERT_TRUE(PumpUntil([this] { return Window().nelomqtclnt1()->IsConnected(); }))
        << Window().RecvLines().join(QLatin1Char('\n')).toStdString();
  }
  int IndexOf(const QString& ALine) { return static_cast<int>(Window().RecvLines().indexOf(ALine)); }
  bool Shows(const QString& ALine) { return IndexOf(ALine) >= 0; }

  std::unique_ptr<TMosquittoBroker> Broker;
  const QString Topic = QStringLiteral("tessiva/e2e");
};

TEST_F(ConsoleBrokerTest, TheBuzzerPresetComesBackFormattedInJsonMode) {
  WriteProfiles();
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ConnectSelected();
  Trigger("N5");
  EXPECT_TRUE(Shows(QStringLiteral("Subscribe:1")));
  f->cbb_format_recv->setCurrentIndex(1);
  f->btn33->click();
  f->edt_atopic->setEditText(Topic);
  f->cbb_publish_qos->setCurrentIndex(1);
  f->btn_send->click();
  ASSERT_TRUE(PumpUntil([&] { return Shows(QStringLiteral("      \"target_file\": \"G0IDAQAAAAA=\"")); }))
      << w.RecvLines().join(QLatin1Char('\n')).toStdString();
  const QStringList expected = {"{",
                                "  \"dvsno\": \"xxx\",",
                                "  \"kind\": \"PRINT_TASK\",",
                                "  \"count\": \"1\",",
                                "  \"list\": [",
                                "    {",
                                "      \"task_id\": \"C147956F-C688-40CB-B0C5-A68E9677AA41\",",
                                "      \"usbidx\": \"0\",",
                                "      \"file_size\": \"12\",",
                                "      \"target_file\": \"G0IDAQAAAAA=\"",
                                "    }",
                                "  ]",
                                "}"};
  const QStringList lines = w.RecvLines();
  const int at = static_cast<int>(lines.indexOf(QStringLiteral("  \"dvsno\": \"xxx\","))) - 1;
  ASSERT_GE(at, 0);
  EXPECT_EQ(lines.mid(at, expected.size()), expected);
  EXPECT_EQ(w.History(), QStringList{Topic});
  EXPECT_EQ(IniValue("local", "dvsno"), Topic + QLatin1Char(','));
  // The connect's progress reached the display through the logger.
  EXPECT_TRUE(Shows(QStringLiteral("CLIENT- Connecting --------------------------- ")));
  EXPECT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
}

TEST_F(ConsoleBrokerTest, PayloadsFromMosquittoPubShowAsPlainTextOrTheDecodingFailure) {
  WriteProfiles();
  Tmain& w = Window();
  ConnectSelected();
  Trigger("N5");
  Pump();
  // The broker has the subscription once a retained-free probe comes back.
  ASSERT_TRUE(PumpUntil([&] {
    MosquittoPub(Concat(Broker->ClientArgs(), {"-t", Topic.toStdString(), "-m", "<b>probe</b>"}));
    Pump();
    return Shows(QStringLiteral("<b>probe</b>"));
  }));
  const TRunResult bad = MosquittoPub(Concat(Broker->ClientArgs(), {"-t", Topic.toStdString(), "-s"}),
                                      "\xff\xfe"
                                      "A");
  ASSERT_EQ(bad.ExitCode, 0) << bad.Stderr;
  ASSERT_TRUE(PumpUntil([&] { return Shows(QStringLiteral("Failed to process incoming publish packet")); }))
      << w.RecvLines().join(QLatin1Char('\n')).toStdString();
  // Nothing of that payload was shown, not even with replacement characters.
  for (const QString& line : w.RecvLines()) {
    EXPECT_FALSE(line.contains(QChar(QChar::ReplacementCharacter)) || line.endsWith(QLatin1Char('A')))
        << line.toStdString();
  }
  // Later publications still arrive.
  MosquittoPub(Concat(Broker->ClientArgs(), {"-t", Topic.toStdString(), "-m", "after"}));
  EXPECT_TRUE(PumpUntil([&] { return Shows(QStringLiteral("after")); }));
}

TEST_F(ConsoleBrokerTest, APublishedPayloadComesBackCharacterForCharacter) {
  WriteProfiles();
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ConnectSelected();
  Trigger("N5");
  f->btn4->click();
  const QString first = QStringLiteral("价格") + QChar(0x00A0) + QStringLiteral("100  <b>x</b>");
  f->mmo_send->setPlainText(first + QStringLiteral("\nsecond"));
  f->edt_atopic->setEditText(Topic);
  f->btn_send->click();
  ASSERT_TRUE(PumpUntil([&] { return Shows(QStringLiteral("second")); }))
      << w.RecvLines().join(QLatin1Char('\n')).toStdString();
  const QStringList lines = w.RecvLines();
  const int at = IndexOf(QStringLiteral("second"));
  ASSERT_GE(at, 1);
  EXPECT_EQ(lines[at - 1], first);
  EXPECT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
}

TEST_F(ConsoleBrokerTest, PublishChecksItsInputAndKeepsTheHistoryRules) {
  WriteProfiles();
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ConnectSelected();
  f->edt_atopic->setEditText(QString());
  f->mmo_send->setPlainText(QStringLiteral("x"));
  f->btn_send->click();
  f->edt_atopic->setEditText(QStringLiteral("a"));
  f->btn5->click();
  f->btn_send->click();
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].Body, QStringLiteral("未输入发布的主题"));
  EXPECT_EQ(Boxes[1].Body, QStringLiteral("未输入消息的主体"));
  for (const TShownBox& b : Boxes) EXPECT_EQ(b.Caption, QStringLiteral("输入错误"));
  EXPECT_TRUE(w.History().isEmpty());

  f->mmo_send->setPlainText(QStringLiteral("payload"));
  for (const char* t : {"a", "b", "a", "a"}) {
    f->edt_atopic->setEditText(QString::fromLatin1(t));
    f->btn_send->click();
  }
  EXPECT_EQ(w.History(), (QStringList{"b", "a"}));
  EXPECT_EQ(IniValue("local", "dvsno"), QStringLiteral("b,a,"));
  EXPECT_EQ(f->edt_atopic->currentText(), QStringLiteral("a"));
  EXPECT_EQ(w.SendText(), QStringLiteral("payload"));

  // The client refuses a topic name with a wildcard: reported, history unchanged.
  Boxes.clear();
  f->edt_atopic->setEditText(QStringLiteral("a/+"));
  f->btn_send->click();
  ASSERT_EQ(Failures().size(), 1);
  EXPECT_TRUE(Failures()[0].startsWith(QStringLiteral("This is not a valid topic name (")))
      << Failures()[0].toStdString();
  EXPECT_EQ(w.History(), (QStringList{"b", "a"}));

  // "other" has no topics: the history stays and is written into its dvsno.
  f->lst_server->SetItemIndex(1);
  f->edt_atopic->setEditText(QStringLiteral("c"));
  f->btn_send->click();
  EXPECT_EQ(IniValue("other", "dvsno"), QStringLiteral("b,a,c,"));
  EXPECT_EQ(IniValue("local", "dvsno"), QStringLiteral("b,a,"));
}

TEST_F(ConsoleBrokerTest, SubscribeLinesCarryConsecutiveIdentifiers) {
  WriteProfiles();
  Tmain& w = Window();
  ConnectSelected();
  Trigger("N5");
  Trigger("N5");
  Trigger("N6");
  const QStringList lines = w.RecvLines();
  const int first = IndexOf(QStringLiteral("Subscribe:1"));
  ASSERT_GE(first, 0) << lines.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(Shows(QStringLiteral("Subscribe:2")));
  EXPECT_TRUE(Shows(QStringLiteral("Unsubscribe:3")));
  EXPECT_TRUE(Failures().isEmpty());
}

TEST_F(ConsoleBrokerTest, EveryConnectUsesANewIdentifierAndAHexPortIsRead) {
  WriteProfiles();
  Tmain& w = Window();
  ConnectSelected();
  const std::string first = w.nelomqtclnt1()->ClientID();
  // "other" stores its port as 0x...: it reaches the same broker.
  w.Form()->lst_server->SetItemIndex(1);
  ConnectSelected();
  const std::string second = w.nelomqtclnt1()->ClientID();
  EXPECT_EQ(first.size(), 38u);
  EXPECT_EQ(second.size(), 38u);
  EXPECT_NE(first, second);
  EXPECT_EQ(w.nelomqtclnt1()->BrokerPort(), Broker->Port());
  EXPECT_EQ(first.front(), '{');
  EXPECT_EQ(first.back(), '}');

  // Deleting the connected profile leaves the connection up; disconnect ends it.
  Trigger("N4");
  EXPECT_TRUE(w.nelomqtclnt1()->IsConnected());
  Trigger("N1");
  EXPECT_FALSE(w.nelomqtclnt1()->IsConnected());
  Trigger("N1");  // not connected: nothing happens
  EXPECT_TRUE(Failures().isEmpty());
}

TEST_F(ConsoleBrokerTest, AProfileWithoutAHostIsRefusedByTheClient) {
  WriteConfig(QStringLiteral("[system]\nlist=nohost,\n[nohost]\nport=1\n"));
  Window();
  Trigger("MQTT1");
  ASSERT_EQ(Failures().size(), 1);
  EXPECT_TRUE(Failures()[0].startsWith(QStringLiteral("Please provide the hostname of the broker")))
      << Failures()[0].toStdString();
}

// A topic past a line edit's default 32,767 characters goes out whole; one
// past the 65,535 bytes a topic may have is refused, never cut to another.
TEST_F(ConsoleBrokerTest, LongTopicsArePublishedWholeOrRefused) {
  WriteConfig(QStringLiteral("[system]\nlist=local,\n[local]\nserver=127.0.0.1\nport=%1\ntopic=long/#,\n")
                  .arg(Broker->Port()));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  ConnectSelected();
  Trigger("N5");
  const QString topic = QStringLiteral("long/") + QString(40000, QLatin1Char('a'));
  f->edt_atopic->setEditText(topic);
  EXPECT_EQ(f->edt_atopic->currentText().size(), topic.size());
  f->mmo_send->setPlainText(QStringLiteral("long topic"));
  f->btn_send->click();
  ASSERT_TRUE(PumpUntil([&] { return w.MessageLog().Count() == 1; }));
  EXPECT_EQ(w.MessageLog().BySeq(0).Topic, topic);

  // 65,536 bytes: three-byte characters past the limit, typed into the field.
  const QString tooLong = QStringLiteral("long/") + QString(21844, QChar(0x4E2D));
  ASSERT_GT(tooLong.toUtf8().size(), 65535);
  f->edt_atopic->lineEdit()->setText(tooLong);
  EXPECT_EQ(f->edt_atopic->currentText(), tooLong);
  f->btn_send->click();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Kind, 3);
  EXPECT_EQ(Boxes[0].Caption, QStringLiteral("输入错误"));
  EXPECT_TRUE(Boxes[0].Body.startsWith(QStringLiteral("主题过长"))) << Boxes[0].Body.toStdString();
  Pump();
  EXPECT_EQ(w.MessageLog().Count(), 1);
  EXPECT_TRUE(Failures().isEmpty());
}

}  // namespace
