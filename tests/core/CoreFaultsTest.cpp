// Faults the core mends: each case shows the broken behaviour it replaces.
#include <gtest/gtest.h>

#include <random>

#include "CoreTestSupport.h"

using namespace coretest;

namespace {

// A QoS 2 message was lost after a reconnect: the ids kept from the old
// session still counted, so a new PUBLISH reusing one was answered and never
// delivered.
TEST(CoreFaultQoS2Ids, NewSessionStartsWithNoneKept) {
  for (bool sessionPresent : {false, true}) {
    TSession s;
    s.Accept(false);
    s.Feed(PublishFrame(qosExactlyOnce, 9, "t", "old"));
    ASSERT_EQ(s.Core.HeldQoS2Count(), 1);
    s.Reconnect(sessionPresent);
    s.Sink.Forget();
    s.Feed(PublishFrame(qosExactlyOnce, 9, "t", "new"));
    EXPECT_EQ(s.Sink.WritesOf(0x50), 1);
    // Kept session: the same message again (not delivered twice); new
    // session: a new message.
    EXPECT_EQ(s.Sink.Messages.size(), sessionPresent ? 0u : 1u) << sessionPresent;
  }
}

// After a reconnect that kept the session, unacknowledged PUBLISHes and
// PUBRELs waited for the 10 s timer; MQTT 3.1.1 (4.4) resends them at once.
TEST(CoreFaultResume, ResendsPublishesAndPubRelsAtOnceWhenTheSessionIsKept) {
  for (bool sessionPresent : {true, false}) {
    TSession s;
    s.Accept(false);
    const uint16_t one = s.Core.Publish("t", TNeloMQTTBytes{1}, qosAtLeastOnce, false, s.Now);
    const uint16_t two = s.Core.Publish("t", TNeloMQTTBytes{2}, qosExactlyOnce, false, s.Now);
    const uint16_t three = s.Core.Publish("t", TNeloMQTTBytes{3}, qosExactlyOnce, false, s.Now);
    s.Feed(Ack(mtPUBREC, three));
    s.Now += 1000;
    s.Sink.Forget();
    s.Reconnect(sessionPresent);
    // CONNECT, then (kept session only) the three exchanges at once.
    std::vector<TNeloMQTTBytes> expected;
    if (sessionPresent) {
      expected.push_back(TNeloMQTTBytes{0x3A, 0x06, 0x00, 0x01, 't', 0x00, static_cast<uint8_t>(one), 1});
      expected.push_back(TNeloMQTTBytes{0x3C, 0x06, 0x00, 0x01, 't', 0x00, static_cast<uint8_t>(two), 2});
      expected.push_back(Ack(mtPUBREL, three));
    }
    ASSERT_EQ(s.Sink.Writes.size(), 1 + expected.size()) << sessionPresent;
    EXPECT_EQ(s.Sink.Writes[0][0], 0x10);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(s.Sink.Writes[1 + i], expected[i]) << i;
    // Without a session they go at their timer, as before.
    if (!sessionPresent) {
      s.Core.Tick(s.Now - 1000 + TNeloMQTTCore::kRetryIntervalMs);
      EXPECT_EQ(s.Sink.Writes.size(), 4u);
    }
  }
}

// A broker's PUBLISH with a topic MQTT 3.1.1 forbids was delivered; it is a
// protocol violation and ends the connection.
struct TTopicCase {
  const char* Name;
  std::string Topic;
};

class CoreFaultTopic : public ::testing::TestWithParam<TTopicCase> {};

TEST_P(CoreFaultTopic, InvalidTopicClosesWithAnErrorLine) {
  for (TNeloMQTTQoS qos : {qosAtMostOnce, qosAtLeastOnce, qosExactlyOnce}) {
    for (bool oversized : {false, true}) {
      TSession s;
      s.Core.SetMaxIncomingPacketSize(oversized ? 8 : 1024);
      s.Accept();
      s.Feed(PublishFrame(qos, 3, GetParam().Topic, std::string(40, 'x')));
      EXPECT_TRUE(s.Sink.Messages.empty());
      EXPECT_TRUE(s.Sink.Writes.empty()) << "no acknowledgement for a violation";
      EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crProtocolViolation});
      EXPECT_TRUE(s.Sink.Logged(vERROR, TNeloMQTTCoreTexts::kProtocolViolation));
      EXPECT_EQ(s.Core.Status(), csConnectionLost);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Topics, CoreFaultTopic,
    ::testing::Values(TTopicCase{"SingleLevelWildcard", "a/+/b"}, TTopicCase{"MultiLevelWildcard", "a/#"},
                      TTopicCase{"Nul", std::string("a\0b", 3)}, TTopicCase{"BadUtf8", "a/\xff"},
                      TTopicCase{"OverlongUtf8", "\xc0\xaf"}, TTopicCase{"Surrogate", "\xed\xa0\x80"},
                      TTopicCase{"CutUtf8", "a\xe4\xb8"}, TTopicCase{"Empty", ""}),
    [](const ::testing::TestParamInfo<TTopicCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(CoreFaultTopicValid, ChineseTopicIsDelivered) {
  TSession s;
  s.Accept();
  s.Feed(PublishFrame(qosAtMostOnce, 0, "打印机/1", "x"));
  ASSERT_EQ(s.Sink.Messages.size(), 1u);
  EXPECT_EQ(s.Sink.Messages[0].Topic, "打印机/1");
}

// Other malformed PUBLISHes end the connection as well.
TEST(CoreFaultMalformedPublish, ClosesWithoutAnswer) {
  const std::vector<TNeloMQTTBytes> frames = {
      {0x36, 0x05, 0x00, 0x01, 't', 0x00, 0x01},  // QoS 3
      {0x30, 0x01, 0x00},                         // no topic length
      {0x30, 0x03, 0x00, 0x05, 't'},              // topic past the packet
      {0x32, 0x04, 0x00, 0x01, 't', 0x00},        // no packet id
      {0x32, 0x05, 0x00, 0x01, 't', 0x00, 0x00},  // packet id 0
  };
  for (const TNeloMQTTBytes& frame : frames) {
    TSession s;
    s.Accept();
    s.Feed(frame);
    EXPECT_TRUE(s.Sink.Writes.empty()) << Hex(frame);
    EXPECT_TRUE(s.Sink.Messages.empty()) << Hex(frame);
    EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crProtocolViolation}) << Hex(frame);
  }
}

// A message above MaxIncomingPacketSize that the broker keeps in the session
// closed the connection at every reconnect, forever. It is read past,
// acknowledged and refused at error level; the session goes on.
struct TOversizedCase {
  const char* Name;
  TNeloMQTTQoS QoS;
  uint8_t Answer;
  std::size_t Piece;  // bytes per Received call, 0 for all at once
};

class CoreFaultOversized : public ::testing::TestWithParam<TOversizedCase> {};

TEST_P(CoreFaultOversized, ReadPastAcknowledgedAndTheSessionGoesOn) {
  const TOversizedCase& c = GetParam();
  TSession s;
  s.Core.SetMaxIncomingPacketSize(64);
  s.Accept();
  const TNeloMQTTBytes stream = Concat({PublishFrame(c.QoS, 77, "jobs/big", std::string(100000, 'z')),
                                        PublishFrame(qosAtLeastOnce, 78, "jobs/small", "ok")});
  const std::size_t piece = c.Piece == 0 ? stream.size() : c.Piece;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::size_t n = std::min(piece, stream.size() - at);
    EXPECT_EQ(s.Core.Received(stream.data() + at, n, s.Now), n);
    // The body is not kept.
    EXPECT_LT(s.Core.HeapBytes(), 1024u);
  }
  std::vector<TNeloMQTTBytes> expected;
  if (c.Answer != 0) expected.push_back({c.Answer, 0x02, 0x00, 77});
  expected.push_back(Ack(mtPUBACK, 78));
  EXPECT_EQ(s.Sink.Writes, expected);
  ASSERT_EQ(s.Sink.Messages.size(), 1u);
  EXPECT_EQ(s.Sink.Messages[0].Topic, "jobs/small");
  EXPECT_TRUE(s.Sink.Logged(vERROR, std::string(TNeloMQTTCoreTexts::kRefusedTooLarge) + "jobs/big"));
  EXPECT_TRUE(s.Sink.Closes.empty());
  EXPECT_TRUE(s.Core.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(QoS, CoreFaultOversized,
                         ::testing::Values(TOversizedCase{"AtMostOnce", qosAtMostOnce, 0, 0},
                                           TOversizedCase{"AtLeastOnce", qosAtLeastOnce, 0x40, 0},
                                           TOversizedCase{"ExactlyOnce", qosExactlyOnce, 0x50, 0},
                                           TOversizedCase{"AtLeastOnceByteByByte", qosAtLeastOnce, 0x40, 1},
                                           TOversizedCase{"ExactlyOnceIn7s", qosExactlyOnce, 0x50, 7},
                                           TOversizedCase{"AtMostOnceIn4096s", qosAtMostOnce, 0, 4096}),
                         [](const ::testing::TestParamInfo<TOversizedCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

TEST(CoreFaultOversizedOther, FramesOtherThanPublishAboveTheCapClose) {
  TSession s;
  s.Core.SetMaxIncomingPacketSize(64);
  s.Accept();
  TNeloMQTTBytes suback = {0x90, 0x64, 0x00, 0x01};
  suback.resize(2 + 100, 0x00);
  s.Feed(suback);
  EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crBrokenFrame});
  EXPECT_TRUE(s.Sink.Logged(vERROR, TNeloMQTTCoreTexts::kInReadException));
  EXPECT_EQ(s.Core.Status(), csConnectionLost);
}

TEST(CoreFaultBrokenLength, FiveLengthBytesClose) {
  TSession s;
  s.Accept();
  s.Feed({0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  EXPECT_EQ(s.Sink.Closes, std::vector<TNeloMQTTCoreCloseReason>{crBrokenFrame});
}

// ---- Any split of the broker's bytes gives the same actions ----

TNeloMQTTBytes BrokerScript() {
  TNeloMQTTBytes big = PublishFrame(qosAtLeastOnce, 40, "big", std::string(300, 'b'));
  return Concat({ConnAck(false, 0),
                 SubAckFrame(1, {0x01, 0x80}),
                 Ack(mtPUBACK, 2),
                 Ack(mtPUBREC, 3),
                 PublishFrame(qosAtMostOnce, 0, "a/0", "zero", false, true),
                 PublishFrame(qosAtLeastOnce, 21, "a/1", std::string(200, 'x')),
                 PublishFrame(qosExactlyOnce, 22, "a/2", "two"),
                 PublishFrame(qosExactlyOnce, 22, "a/2", "two", true),
                 Ack(mtPUBREL, 22),
                 Ack(mtPUBCOMP, 3),
                 {0x00},
                 kPingResp,
                 {0xC0, 0x00},
                 big,
                 {0xE0, 0x00},
                 Ack(mtUNSUBACK, 4),
                 {0x20, 0x01, 0x00},
                 PublishFrame(qosAtMostOnce, 0, "a/+", "bad"),
                 PublishFrame(qosAtMostOnce, 0, "after", "never")});
}

std::vector<std::string> RunScript(const std::vector<std::size_t>& APieces) {
  TSession s;
  s.Core.SetLogVerbosity(vDEBUG);
  s.Core.SetMaxIncomingPacketSize(256);
  s.Open();
  s.Core.Subscribe({"a/#", "b"}, {qosAtLeastOnce, qosAtLeastOnce}, s.Now);
  s.Core.Publish("p/1", TNeloMQTTBytes{1}, qosAtLeastOnce, false, s.Now);
  s.Core.Publish("p/2", TNeloMQTTBytes{2}, qosExactlyOnce, false, s.Now);
  s.Core.Unsubscribe({"b"}, s.Now);
  const TNeloMQTTBytes script = BrokerScript();
  std::size_t at = 0;
  for (std::size_t piece : APieces) {
    if (at >= script.size()) break;
    const std::size_t n = std::min(piece, script.size() - at);
    EXPECT_EQ(s.Core.Received(script.data() + at, n, s.Now), n);
    at += n;
  }
  if (at < script.size()) s.Core.Received(script.data() + at, script.size() - at, s.Now);
  EXPECT_EQ(s.Sink.SplitWrites, 0);
  EXPECT_EQ(s.Sink.WritesWhileClosed, 0);
  return s.Sink.Events;
}

// "" when equal, else the first action that differs.
std::string FirstDifference(const std::vector<std::string>& AGot, const std::vector<std::string>& AWanted) {
  for (std::size_t i = 0; i < std::max(AGot.size(), AWanted.size()); ++i) {
    const std::string got = i < AGot.size() ? AGot[i] : "(none)";
    const std::string wanted = i < AWanted.size() ? AWanted[i] : "(none)";
    if (got != wanted) return "action " + std::to_string(i) + ": got '" + got + "', wanted '" + wanted + "'";
  }
  return "";
}

TEST(CoreSplits, WholeByteByByteAndRandomSplitsGiveTheSameActions) {
  const std::vector<std::string> whole = RunScript({});
  // The script reaches its end: the invalid topic closes the session, and
  // what follows it is never delivered.
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(whole.back(), "status " + std::to_string(csConnectionLost));
  EXPECT_EQ(std::count(whole.begin(), whole.end(), "close " + std::to_string(crProtocolViolation)), 1);
  for (const std::string& event : whole) EXPECT_EQ(event.find("deliver after"), std::string::npos);

  EXPECT_EQ(FirstDifference(RunScript(std::vector<std::size_t>(BrokerScript().size(), 1)), whole), "")
      << "byte by byte";
  std::mt19937 random(20261211);
  for (int run = 0; run < 200; ++run) {
    std::vector<std::size_t> pieces;
    std::uniform_int_distribution<std::size_t> size(1, run % 2 == 0 ? 8 : 400);
    for (std::size_t total = 0; total < BrokerScript().size(); total += pieces.back())
      pieces.push_back(size(random));
    ASSERT_EQ(FirstDifference(RunScript(pieces), whole), "") << "run " << run;
  }
}

}  // namespace
