// CONNECT and CONNACK, their time-out, keep-alive, closing and reconnecting.
#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "Nelo.MQTT.Packets.CONNECT.h"

using namespace coretest;

namespace {

struct TConnectCase {
  const char* Name;
  bool Clean;
  const char* User;
  const char* Password;
  const char* WillTopic;
  TNeloMQTTQoS WillQoS;
  bool WillRetain;
  uint16_t KeepAlive;
  uint8_t Flags;  // the connect flags byte expected on the wire
};

class CoreConnect : public ::testing::TestWithParam<TConnectCase> {};

TEST_P(CoreConnect, WritesOneConnectWithTheOptions) {
  const TConnectCase& c = GetParam();
  TSession s;
  s.Options.Username = c.User;
  s.Options.Password = c.Password;
  s.Options.WillTopic = c.WillTopic;
  s.Options.WillMessage = "gone";
  s.Options.WillQoS = c.WillQoS;
  s.Options.WillRetain = c.WillRetain;
  s.Options.KeepAliveInterval = c.KeepAlive;
  s.Open(c.Clean);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  const TNeloMQTTBytes& connect = s.Sink.Writes[0];
  // Fixed header, length, 00 04 "MQTT", level 4, flags, keep-alive.
  ASSERT_GT(connect.size(), 12u);
  EXPECT_EQ(connect[0], 0x10);
  EXPECT_EQ(std::string(connect.begin() + 4, connect.begin() + 8), "MQTT");
  EXPECT_EQ(connect[8], 4);
  EXPECT_EQ(connect[9], c.Flags);
  EXPECT_EQ((connect[10] << 8) | connect[11], c.KeepAlive);
  EXPECT_EQ(s.Sink.Statuses, std::vector<TNeloMQTTConnectionStatus>{csConnecting});
  EXPECT_EQ(s.Sink.SplitWrites, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Options, CoreConnect,
    ::testing::Values(TConnectCase{"CleanPlain", true, "", "", "", qosAtMostOnce, false, 120, 0x02},
                      TConnectCase{"Persistent", false, "", "", "", qosAtMostOnce, false, 30, 0x00},
                      TConnectCase{"UserAndPassword", true, "u", "p", "", qosAtMostOnce, false, 120, 0xC2},
                      // A password without a user name is left out (MQTT 3.1.1).
                      TConnectCase{"PasswordAlone", true, "", "p", "", qosAtMostOnce, false, 120, 0x02},
                      TConnectCase{"WillQoS1Retained", true, "", "", "w/t", qosAtLeastOnce, true, 5, 0x2E},
                      // Will QoS and retain without a will topic are left out.
                      TConnectCase{"WillFlagsAlone", false, "", "", "", qosExactlyOnce, true, 0, 0x00}),
    [](const ::testing::TestParamInfo<TConnectCase>& AInfo) { return std::string(AInfo.param.Name); });

struct TConnAckCase {
  uint8_t Code;
  TNeloMQTTConnectionStatus Status;
  bool ReconnectAllowed;
};

class CoreConnAck : public ::testing::TestWithParam<TConnAckCase> {};

TEST_P(CoreConnAck, ReturnCodeGivesStatusAndReconnectPolicy) {
  const TConnAckCase& c = GetParam();
  TSession s;
  s.Open();
  s.Sink.Forget();
  s.Feed(ConnAck(false, c.Code));
  EXPECT_EQ(s.Core.Status(), c.Status);
  EXPECT_EQ(s.Sink.Statuses, std::vector<TNeloMQTTConnectionStatus>{c.Status});
  EXPECT_EQ(s.Core.ReconnectAllowed(), c.ReconnectAllowed);
  EXPECT_EQ(s.Core.ReconnectStopped(), !c.ReconnectAllowed);
  EXPECT_EQ(s.Sink.Logged(vERROR, TNeloMQTTCoreTexts::kReconnectStopped), !c.ReconnectAllowed);
  // The CONNACK time-out is over whatever the answer.
  EXPECT_NE(s.Core.NextDeadline(), s.Now + TNeloMQTTCore::kDefaultConnAckTimeoutMs);
  ASSERT_EQ(s.Sink.Received.size(), 1u);
  EXPECT_EQ(s.Sink.Received[0].PacketType, mtCONNACK);

  // The broker closes after a refusal; the driver reconnects only when allowed.
  s.Core.TransportClosed(s.Now);
  s.Sink.Forget();
  s.Core.Reconnect(s.Options, s.Now);
  EXPECT_EQ(s.Sink.WritesOf(0x10), c.ReconnectAllowed ? 1 : 0);
  // The operator's next Connect lifts the stop.
  s.Core.TransportClosed(s.Now);
  s.Open();
  EXPECT_TRUE(s.Core.ReconnectAllowed());
}

INSTANTIATE_TEST_SUITE_P(ReturnCodes, CoreConnAck,
                         ::testing::Values(TConnAckCase{0, csConnected, true},
                                           TConnAckCase{1, csConnectionRejected_InvalidProtocolVersion, true},
                                           TConnAckCase{2, csConnectionRejected_InvalidIdentifier, false},
                                           TConnAckCase{3, csConnectionRejected_ServerUnavailable, true},
                                           TConnAckCase{4, csConnectionRejected_InvalidCredentials, false},
                                           TConnAckCase{5, csConnectionRejected_ClientNotAuthorized, false},
                                           TConnAckCase{6, csNotConnected, true},
                                           TConnAckCase{200, csNotConnected, true}));

TEST(CoreConnAckTimeout, ClosesAtTheTimeOutAndNotBefore) {
  TSession s;
  s.Open();
  EXPECT_EQ(s.Core.NextDeadline(), s.Now + TNeloMQTTCore::kDefaultConnAckTimeoutMs);
  s.Core.Tick(s.Now + TNeloMQTTCore::kDefaultConnAckTimeoutMs - 1);
  EXPECT_TRUE(s.Sink.Closes.empty());
  s.Core.Tick(s.Now + TNeloMQTTCore::kDefaultConnAckTimeoutMs);
  EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crConnAckTimeout});
  EXPECT_TRUE(s.Sink.Logged(vERROR, TNeloMQTTCoreTexts::kConnAckTimeout));
  EXPECT_EQ(s.Core.Status(), csConnectionLost);
  EXPECT_FALSE(s.Core.IsOpen());
  EXPECT_EQ(s.Core.NextDeadline(), TNeloMQTTCore::kNoDeadline);
}

TEST(CoreConnAckTimeout, SecondConnAckIsAProtocolViolation) {
  TSession s;
  s.Accept();
  s.Feed(ConnAck(false, 0));
  EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crProtocolViolation});
  EXPECT_EQ(s.Core.Status(), csConnectionLost);
}

struct TKeepAliveCase {
  const char* Name;
  uint16_t KeepAlive;
  bool KeepConnectionAlive;
  bool Answered;
};

class CoreKeepAlive : public ::testing::TestWithParam<TKeepAliveCase> {};

TEST_P(CoreKeepAlive, PingWhenIdleAndCloseWhenUnanswered) {
  const TKeepAliveCase& c = GetParam();
  TSession s;
  s.Options.KeepAliveInterval = c.KeepAlive;
  s.Options.KeepConnectionAlive = c.KeepConnectionAlive;
  const int64_t connectAt = s.Now;
  s.Accept();
  // Idle: the ping is due KeepAlive + 1 s after the last write (the CONNECT).
  const int64_t due = connectAt + (c.KeepAlive + 1) * 1000;
  if (!c.KeepConnectionAlive) {
    EXPECT_EQ(s.Core.NextDeadline(), TNeloMQTTCore::kNoDeadline);
    s.Core.Tick(due + 100000);
    EXPECT_TRUE(s.Sink.Writes.empty());
    return;
  }
  EXPECT_EQ(s.Core.NextDeadline(), due);
  s.Core.Tick(due - 1);
  EXPECT_TRUE(s.Sink.Writes.empty());
  s.Core.Tick(due);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  EXPECT_EQ(s.Sink.Writes[0], (TNeloMQTTBytes{0xC0, 0x00}));
  // The PINGRESP is awaited for max(KeepAlive, 1) s.
  const int64_t answerBy = due + std::max<int64_t>(c.KeepAlive, 1) * 1000;
  EXPECT_EQ(s.Core.NextDeadline(), std::min(answerBy, due + (c.KeepAlive + 1) * 1000));
  if (c.Answered) {
    s.Feed(kPingResp);
    ASSERT_EQ(s.Sink.Acks.size(), 1u);
    EXPECT_EQ(s.Sink.Acks[0].Kind, akPingResponse);
    s.Core.Tick(answerBy);
    EXPECT_TRUE(s.Sink.Closes.empty());
    EXPECT_TRUE(s.Core.IsConnected());
  } else {
    s.Core.Tick(answerBy - 1);
    EXPECT_TRUE(s.Sink.Closes.empty());
    s.Core.Tick(answerBy);
    EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crPingTimeout});
    EXPECT_TRUE(s.Sink.Logged(vERROR, TNeloMQTTCoreTexts::kPingTimeout));
    EXPECT_EQ(s.Core.Status(), csConnectionLost);
  }
}

INSTANTIATE_TEST_SUITE_P(Intervals, CoreKeepAlive,
                         ::testing::Values(TKeepAliveCase{"Default", 120, true, true},
                                           TKeepAliveCase{"DefaultSilent", 120, true, false},
                                           TKeepAliveCase{"ZeroPingsEverySecond", 0, true, true},
                                           TKeepAliveCase{"ZeroSilent", 0, true, false},
                                           TKeepAliveCase{"Off", 120, false, false}),
                         [](const ::testing::TestParamInfo<TKeepAliveCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

TEST(CoreKeepAliveTraffic, WritesPostponeThePingAndReadsDoNot) {
  TSession s;
  s.Options.KeepAliveInterval = 10;
  s.Accept();
  s.Now += 5000;
  s.Core.Publish("t", TNeloMQTTBytes{1}, qosAtMostOnce, false, s.Now);
  EXPECT_EQ(s.Core.NextDeadline(), s.Now + 11000);
  s.Now += 2000;
  s.Feed(PublishFrame(qosAtMostOnce, 0, "t", "x"));
  EXPECT_EQ(s.Core.NextDeadline(), s.Now - 2000 + 11000);
}

// Whatever the state, the end of the transport ends in a disconnected status,
// and a closed session writes nothing.
struct TClosedCase {
  const char* Name;
  int Stage;  // 0 connecting, 1 connected, 2 reconnecting, 3 refused
  TNeloMQTTConnectionStatus After;
};

class CoreTransportClosed : public ::testing::TestWithParam<TClosedCase> {};

TEST_P(CoreTransportClosed, EndsDisconnectedAndStaysClosed) {
  const TClosedCase& c = GetParam();
  TSession s;
  s.Open();
  if (c.Stage == 1 || c.Stage == 2) s.Feed(ConnAck(false, 0));
  if (c.Stage == 2) {
    s.Core.TransportClosed(s.Now);
    s.Core.Reconnect(s.Options, s.Now);
  }
  if (c.Stage == 3) s.Feed(ConnAck(false, 4));
  s.Core.Subscribe({"a/#"}, {qosAtLeastOnce}, s.Now);
  s.Core.TransportClosed(s.Now);
  EXPECT_EQ(s.Core.Status(), c.After);
  EXPECT_FALSE(s.Core.IsConnected());
  EXPECT_FALSE(s.Core.IsOpen());
  s.Sink.Forget();
  // Nothing of these may write on the closed session.
  s.Core.Publish("t", TNeloMQTTBytes{1}, qosAtLeastOnce, false, s.Now);
  s.Core.Ping(s.Now);
  s.Feed(Concat({ConnAck(false, 0), PublishFrame(qosAtLeastOnce, 3, "t", "x"), Ack(mtPUBREL, 4)}));
  s.Core.Tick(s.Now + 3600 * 1000);
  s.Core.Disconnect(s.Now);
  EXPECT_TRUE(s.Sink.Writes.empty());
  EXPECT_TRUE(s.Sink.Messages.empty());
  EXPECT_FALSE(s.Core.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    States, CoreTransportClosed,
    ::testing::Values(TClosedCase{"Connecting", 0, csConnectionLost},
                      TClosedCase{"Connected", 1, csConnectionLost},
                      TClosedCase{"Reconnecting", 2, csConnectionLost},
                      TClosedCase{"Refused", 3, csConnectionRejected_InvalidCredentials}),
    [](const ::testing::TestParamInfo<TClosedCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(CoreDisconnect, WritesDisconnectClosesAndStopsReconnecting) {
  TSession s;
  s.Accept();
  s.Core.Disconnect(s.Now);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  EXPECT_EQ(s.Sink.Writes[0], (TNeloMQTTBytes{0xE0, 0x00}));
  EXPECT_EQ(s.Sink.Statuses, (std::vector<TNeloMQTTConnectionStatus>{csConnectionLost, csNotConnected}));
  EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crDisconnect});
  EXPECT_FALSE(s.Core.ReconnectAllowed());
  EXPECT_FALSE(s.Core.ReconnectStopped());
  s.Sink.Forget();
  s.Core.Reconnect(s.Options, s.Now);
  EXPECT_TRUE(s.Sink.Writes.empty());
}

// A reconnect asks for the session the operator chose, not for a kept one.
TEST(CoreReconnect, UsesTheOperatorsCleanSessionChoice) {
  for (bool clean : {true, false}) {
    TSession s;
    s.Accept(clean);
    s.Core.TransportClosed(s.Now);
    s.Options.CleanSession = !clean;
    s.Core.Reconnect(s.Options, s.Now);
    ASSERT_EQ(s.Sink.Writes.size(), 1u) << clean;
    EXPECT_EQ((s.Sink.Writes[0][9] & 0x02) != 0, clean);
    EXPECT_EQ(s.Core.Status(), csReconnecting);
  }
}

TEST(CoreReconnect, RenewsKeptSubscriptionsOnlyWhenTheBrokerKeptNoSession) {
  for (bool sessionPresent : {false, true}) {
    TSession s;
    s.Accept();
    const uint16_t id = s.Core.Subscribe({"a/#", "b"}, {qosAtLeastOnce, qosExactlyOnce}, s.Now);
    s.Feed(SubAckFrame(id, {0x01, 0x02}));
    const uint16_t gone = s.Core.Subscribe({"c"}, {qosAtMostOnce}, s.Now);
    s.Feed(SubAckFrame(gone, {0x00}));
    s.Core.Unsubscribe({"c"}, s.Now);
    s.Feed(Ack(mtUNSUBACK, static_cast<uint16_t>(gone + 1)));
    s.Sink.Forget();
    s.Reconnect(sessionPresent);
    const int subscribes = s.Sink.WritesOf(0x82);
    EXPECT_EQ(subscribes, sessionPresent ? 0 : 1);
    EXPECT_EQ(s.Sink.Logged(vINFO, std::string(TNeloMQTTCoreTexts::kSubscribingAgain) + "a/#, b"),
              !sessionPresent);
  }
}

TEST(CoreReconnect, OperatorConnectForgetsKeptSubscriptions) {
  TSession s;
  s.Accept();
  const uint16_t id = s.Core.Subscribe({"a"}, {qosAtLeastOnce}, s.Now);
  s.Feed(SubAckFrame(id, {0x01}));
  ASSERT_EQ(s.Core.KeptSubscriptions().size(), 1u);
  s.Core.TransportClosed(s.Now);
  s.Accept();
  EXPECT_TRUE(s.Core.KeptSubscriptions().empty());
}

}  // namespace
