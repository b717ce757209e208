// The connection indicator under the profile list and the reasons put into
// the display: refusals by return code, a refused TCP connect, a loss and
// the reconnect, against the scripted fake broker.
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <atomic>
#include <chrono>

#include "ConsoleFixture.h"
#include "FakeBroker.h"
#include "MosquittoBroker.h"
#include "Nelo.MQTT.Client.h"
#include "TestWait.h"

using namespace tessiva::test;

namespace {

std::atomic<int64_t> GClockOffset{0};

class ConnectionStateTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    // The reconnect waits 30 s on the engine's clock; the test moves it on.
    GClockOffset = 0;
    NeloSetClock([] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
                 .count() +
             GClockOffset.load();
    });
  }
  void TearDown() override {
    ConsoleTest::TearDown();
    NeloSetClock(nullptr);
  }

  bool PumpUntil(const std::function<bool()>& ACondition) {
    QElapsedTimer t;
    t.start();
    while (!ACondition()) {
      if (t.elapsed() > kWaitLong.count()) return ACondition();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
  }
  void Profile(int APort) {
    WriteConfig(
        QStringLiteral("[system]\nlist=fake,\n[fake]\nserver=127.0.0.1\nport=%1\nusername=u\npassword=p\n")
            .arg(APort));
  }
  void Connect() { Window().findChild<QAction*>(QStringLiteral("MQTT1"))->trigger(); }
  // Takes the console's connection and its CONNECT.
  std::unique_ptr<TFakeConnection> AcceptConnect(TFakeBroker& ABroker) {
    auto c = ABroker.Accept();
    if (!c) return nullptr;
    const auto connect = c->ReadFrame();
    EXPECT_TRUE(connect && connect->Type() == 1);
    return c;
  }
  static TByteVector ConnAck(uint8_t ACode) { return MakeFrame(0x20, {0x00, ACode}); }
  int LinesWith(const QString& AText) {
    int n = 0;
    for (const QString& l : Window().RecvLines()) n += l.contains(AText) ? 1 : 0;
    return n;
  }
  QString State() { return Window().StateText()->text(); }
};

TEST_F(ConnectionStateTest, ARefusalShowsItsReasonInWordsOnce) {
  struct TCase {
    uint8_t Code;
    const char* Reason;
  };
  for (const TCase& c :
       {TCase{1, "服务器不接受此协议版本（返回码 1）"}, TCase{2, "服务器不接受此客户端标识符（返回码 2）"},
        TCase{3, "MQTT 服务不可用（返回码 3）"}, TCase{4, "用户名或密码错误（返回码 4）"},
        TCase{5, "客户端未获授权（返回码 5）"}}) {
    TFakeBroker broker;
    Profile(broker.Port());
    Tmain& w = Window();
    w.btn4Click();
    Connect();
    auto conn = AcceptConnect(broker);
    ASSERT_TRUE(conn);
    EXPECT_EQ(w.ConnectionState(), stConnecting) << int(c.Code);
    EXPECT_EQ(State(), QStringLiteral("正在连接 127.0.0.1:%1").arg(broker.Port()));
    conn->Send(ConnAck(c.Code));
    conn->CloseOrderly();
    ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stRefused; })) << int(c.Code);
    EXPECT_EQ(State(), QStringLiteral("连接被拒绝 127.0.0.1:%1").arg(broker.Port()));
    const QString line = QStringLiteral("服务器 127.0.0.1:%1 拒绝了连接：%2")
                             .arg(broker.Port())
                             .arg(QString::fromUtf8(c.Reason));
    // The close that follows the refusal does not repeat it.
    PumpUntil([&] { return LinesWith(QStringLiteral("Connection closed")) > 0; });
    EXPECT_EQ(LinesWith(line), 1) << w.RecvLines().join(QLatin1Char('\n')).toStdString();
  }
}

TEST_F(ConnectionStateTest, AFailedConnectShowsTheSystemsErrorAndNoRefusal) {
  const int port = FreeLoopbackPort();  // nothing listens there
  Profile(port);
  Tmain& w = Window();
  EXPECT_EQ(w.ConnectionState(), stNotConnected);
  EXPECT_EQ(State(), QStringLiteral("未连接"));
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stFailed; }));
  EXPECT_EQ(State(), QStringLiteral("连接失败 127.0.0.1:%1").arg(port));
  const QString reason = QStringLiteral("无法连接 127.0.0.1:%1：").arg(port);
  EXPECT_EQ(LinesWith(reason), 1);
  EXPECT_EQ(LinesWith(QStringLiteral("Connection refused")), 1)
      << w.RecvLines().join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(LinesWith(QStringLiteral("拒绝了连接")), 0);
  EXPECT_TRUE(Failures().isEmpty());
}

TEST_F(ConnectionStateTest, ALostConnectionShowsReconnectingAndThenConnectedAgain) {
  TFakeBroker broker;
  Profile(broker.Port());
  Tmain& w = Window();
  Connect();
  auto conn = AcceptConnect(broker);
  ASSERT_TRUE(conn);
  conn->Send(ConnAck(0));
  ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stConnected; }));
  EXPECT_EQ(State(), QStringLiteral("已连接 127.0.0.1:%1").arg(broker.Port()));

  conn->Reset();
  ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stLost; }));
  EXPECT_EQ(State(), QStringLiteral("连接已断开 127.0.0.1:%1").arg(broker.Port()));
  GClockOffset += 31000;
  ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stReconnecting; }));
  EXPECT_EQ(State(), QStringLiteral("正在重新连接 127.0.0.1:%1").arg(broker.Port()));
  auto again = AcceptConnect(broker);
  ASSERT_TRUE(again);
  again->Send(ConnAck(0));
  ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stConnected; }));

  w.N1Click();
  EXPECT_EQ(w.ConnectionState(), stNotConnected);
  EXPECT_EQ(State(), QStringLiteral("未连接"));
}

TEST_F(ConnectionStateTest, AWrongPasswordAtMosquittoIsShownAsARefusal) {
  TBrokerOptions options;
  options.Users = {{"printer", "right"}};
  TMosquittoBroker broker(options);
  broker.Start();
  WriteConfig(
      QStringLiteral("[system]\nlist=m,\n[m]\nserver=127.0.0.1\nport=%1\nusername=printer\npassword=wrong\n")
          .arg(broker.Port()));
  Tmain& w = Window();
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return w.ConnectionState() == stRefused; }))
      << w.RecvLines().join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(LinesWith(QStringLiteral("拒绝了连接")), 1)
      << w.RecvLines().join(QLatin1Char('\n')).toStdString();
}

}  // namespace
