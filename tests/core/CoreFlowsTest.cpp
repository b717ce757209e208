// The QoS flows both ways, subscriptions, and the answer backlog.
#include <gtest/gtest.h>

#include <algorithm>

#include "CoreTestSupport.h"
#include "Nelo.MQTT.Packets.SUBSCRIBE.h"
#include "Nelo.MQTT.Packets.UNSUBSCRIBE.h"
#include "Nelo.MQTT.Texts.h"

using namespace coretest;

namespace {

// ---- Our publishes ----

struct TOutCase {
  const char* Name;
  TNeloMQTTQoS QoS;
};

class CorePublishOut : public ::testing::TestWithParam<TOutCase> {};

// The window of 10: later publishes wait in order, each acknowledgement lets
// the next one out.
TEST_P(CorePublishOut, WindowOfTenAndAcknowledgements) {
  const TNeloMQTTQoS qos = GetParam().QoS;
  TSession s;
  s.Accept();
  std::vector<uint16_t> ids;
  for (int i = 0; i < 12; ++i)
    ids.push_back(s.Core.Publish("t", TNeloMQTTBytes{uint8_t(i)}, qos, false, s.Now));
  // A QoS 0 publish behind a full window waits as well.
  s.Core.Publish("zero", TNeloMQTTBytes{}, qosAtMostOnce, false, s.Now);
  EXPECT_EQ(ids.front(), 1);
  EXPECT_EQ(ids.back(), 12);
  EXPECT_EQ(s.Sink.Writes.size(), 10u);
  EXPECT_EQ(s.Core.InFlightCount(), 10);
  EXPECT_EQ(s.Core.QueuedCount(), 3);
  for (std::size_t i = 0; i < s.Sink.Writes.size(); ++i) {
    EXPECT_EQ(s.Sink.Writes[i][0], 0x30 | (qos << 1)) << i;
    EXPECT_EQ(s.Sink.Writes[i].back(), i);
  }
  s.Sink.Forget();
  // First exchange done: one more goes out.
  if (qos == qosAtLeastOnce) {
    s.Feed(Ack(mtPUBACK, ids[0]));
  } else {
    s.Feed(Ack(mtPUBREC, ids[0]));
    // The PUBREL keeps the slot: nothing new yet.
    ASSERT_EQ(s.Sink.Writes.size(), 1u);
    EXPECT_EQ(s.Sink.Writes[0], Ack(mtPUBREL, ids[0]));
    EXPECT_TRUE(s.Sink.Acks.empty());
    s.Feed(Ack(mtPUBCOMP, ids[0]));
  }
  ASSERT_EQ(s.Sink.Acks.size(), 1u);
  EXPECT_EQ(s.Sink.Acks[0].Kind, akPublished);
  EXPECT_EQ(s.Sink.Acks[0].PacketId, ids[0]);
  EXPECT_EQ(s.Sink.Acks[0].QoS, qos);
  EXPECT_EQ(s.Sink.Writes.back()[0], 0x30 | (qos << 1));
  EXPECT_EQ(s.Sink.Writes.back().back(), 10);
  EXPECT_EQ(s.Core.InFlightCount(), 10);
  EXPECT_EQ(s.Core.QueuedCount(), 2);
  // An acknowledgement nobody waits for changes nothing.
  s.Sink.Forget();
  s.Feed(Ack(qos == qosAtLeastOnce ? mtPUBACK : mtPUBCOMP, 999));
  EXPECT_TRUE(s.Sink.Acks.empty());
  EXPECT_EQ(s.Core.InFlightCount(), 10);
}

// Unanswered: resent with DUP every 10 s, ten sends in all, then given up.
TEST_P(CorePublishOut, ResendsWithDupThenGivesUp) {
  const TNeloMQTTQoS qos = GetParam().QoS;
  TSession s;
  s.Options.KeepConnectionAlive = false;
  s.Accept();
  const uint16_t id = s.Core.Publish("t", TNeloMQTTBytes{7}, qos, false, s.Now);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  EXPECT_EQ(s.Sink.Writes[0][0] & 0x08, 0);
  for (int attempt = 1; attempt < TNeloMQTTCore::kMaxAttempts; ++attempt) {
    EXPECT_EQ(s.Core.NextDeadline(), s.Now + TNeloMQTTCore::kRetryIntervalMs);
    s.Core.Tick(s.Now + TNeloMQTTCore::kRetryIntervalMs - 1);
    EXPECT_EQ(s.Sink.Writes.size(), static_cast<std::size_t>(attempt));
    s.Now += TNeloMQTTCore::kRetryIntervalMs;
    s.Core.Tick(s.Now);
    ASSERT_EQ(s.Sink.Writes.size(), static_cast<std::size_t>(attempt + 1));
    EXPECT_EQ(s.Sink.Writes.back()[0], 0x38 | (qos << 1)) << attempt;
    EXPECT_TRUE(s.Sink.Sent.back().IsDuplicate);
  }
  EXPECT_FALSE(s.Sink.Logged(vERROR, TNeloMQTTCoreTexts::kOutPacket));
  s.Now += TNeloMQTTCore::kRetryIntervalMs;
  s.Core.Tick(s.Now);
  EXPECT_EQ(s.Sink.Writes.size(), static_cast<std::size_t>(TNeloMQTTCore::kMaxAttempts));
  const std::string failed =
      std::string(TNeloMQTTCoreTexts::kOutPacket) + std::to_string(id) +
      (qos == qosExactlyOnce ? TNeloMQTTCoreTexts::kOutQoS2Failed : TNeloMQTTCoreTexts::kOutQoS1Failed);
  EXPECT_TRUE(s.Sink.Logged(vERROR, failed));
  ASSERT_EQ(s.Sink.Acks.size(), 1u);
  EXPECT_EQ(s.Sink.Acks[0].Kind, akGivenUp);
  EXPECT_EQ(s.Core.InFlightCount(), 0);
  EXPECT_EQ(s.Core.NextDeadline(), TNeloMQTTCore::kNoDeadline);
}

INSTANTIATE_TEST_SUITE_P(QoS, CorePublishOut,
                         ::testing::Values(TOutCase{"AtLeastOnce", qosAtLeastOnce},
                                           TOutCase{"ExactlyOnce", qosExactlyOnce}),
                         [](const ::testing::TestParamInfo<TOutCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

TEST(CorePublishOutQoS0, SentOnceWithoutId) {
  TSession s;
  s.Accept();
  EXPECT_EQ(s.Core.Publish("a/b", TNeloMQTTBytes{'h', 'i'}, qosAtMostOnce, true, s.Now), 0);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  EXPECT_EQ(s.Sink.Writes[0], (TNeloMQTTBytes{0x31, 0x07, 0x00, 0x03, 'a', '/', 'b', 'h', 'i'}));
  // As the seed reports its writer's sends: retain not shown.
  EXPECT_FALSE(s.Sink.Sent[0].IsRetained);
  s.Core.Tick(s.Now + 60000);
  EXPECT_EQ(s.Sink.WritesOf(0x31), 1);
  EXPECT_EQ(s.Core.InFlightCount(), 0);
}

TEST(CorePublishOutQueue, PublishesBeforeTheConnAckLeaveAfterIt) {
  TSession s;
  s.Open();
  s.Sink.Forget();
  s.Core.Publish("t", TNeloMQTTBytes{1}, qosAtLeastOnce, false, s.Now);
  EXPECT_TRUE(s.Sink.Writes.empty());
  s.Feed(ConnAck(false, 0));
  EXPECT_EQ(s.Sink.WritesOf(0x32), 1);
}

TEST(CorePublishOutIds, SkipIdsStillOpen) {
  TSession s;
  s.Accept();
  const uint16_t first = s.Core.Publish("t", TNeloMQTTBytes{}, qosAtLeastOnce, false, s.Now);
  for (int i = 1; i < 65535; ++i) {
    const uint16_t id = s.Core.Publish("t", TNeloMQTTBytes{}, qosAtLeastOnce, false, s.Now);
    s.Feed(Ack(mtPUBACK, id));
  }
  // The counter came round to the first id, still unanswered: skipped.
  const uint16_t next = s.Core.Publish("t", TNeloMQTTBytes{}, qosAtLeastOnce, false, s.Now);
  EXPECT_EQ(first, 1);
  EXPECT_NE(next, first);
  EXPECT_NE(next, 0);
}

// ---- Publishes received ----

struct TInCase {
  const char* Name;
  TNeloMQTTQoS QoS;
  bool Dup;
  bool Retain;
  uint8_t Answer;  // first byte of the answer, 0 for none
};

class CorePublishIn : public ::testing::TestWithParam<TInCase> {};

TEST_P(CorePublishIn, AnsweredThenDeliveredAsOneValue) {
  const TInCase& c = GetParam();
  TSession s;
  s.Accept();
  const uint16_t id = c.QoS == qosAtMostOnce ? 0 : 12;
  s.Feed(PublishFrame(c.QoS, id, "printer/7", "job", c.Dup, c.Retain));
  if (c.Answer == 0) {
    EXPECT_TRUE(s.Sink.Writes.empty());
  } else {
    ASSERT_EQ(s.Sink.Writes.size(), 1u);
    EXPECT_EQ(s.Sink.Writes[0], (TNeloMQTTBytes{c.Answer, 0x02, 0x00, 0x0C}));
  }
  ASSERT_EQ(s.Sink.Messages.size(), 1u);
  const TNeloMQTTMessage& m = s.Sink.Messages[0];
  EXPECT_EQ(m.Topic, "printer/7");
  EXPECT_EQ(m.Payload, (TNeloMQTTBytes{'j', 'o', 'b'}));
  EXPECT_EQ(m.QoS, c.QoS);
  EXPECT_EQ(m.Dup, c.Dup);
  EXPECT_EQ(m.Retain, c.Retain);
  EXPECT_EQ(m.PacketId, id);
  // The answer goes before the message is handed on.
  if (c.Answer != 0) {
    auto starts = [](const char* APrefix) {
      return [APrefix](const std::string& AEvent) { return AEvent.rfind(APrefix, 0) == 0; };
    };
    const auto& events = s.Sink.Events;
    EXPECT_LT(std::find_if(events.begin(), events.end(), starts("write")),
              std::find_if(events.begin(), events.end(), starts("deliver")));
  }
  ASSERT_EQ(s.Sink.Received.size(), 1u);
  EXPECT_EQ(s.Sink.Received[0].PacketType, mtPUBLISH);
  EXPECT_EQ(s.Sink.Received[0].IsRetained, c.Retain);
}

INSTANTIATE_TEST_SUITE_P(QoS, CorePublishIn,
                         ::testing::Values(TInCase{"AtMostOnce", qosAtMostOnce, false, false, 0},
                                           TInCase{"AtMostOnceRetained", qosAtMostOnce, false, true, 0},
                                           TInCase{"AtLeastOnce", qosAtLeastOnce, false, false, 0x40},
                                           TInCase{"AtLeastOnceDup", qosAtLeastOnce, true, true, 0x40},
                                           TInCase{"ExactlyOnce", qosExactlyOnce, false, false, 0x50},
                                           TInCase{"ExactlyOnceDup", qosExactlyOnce, true, false, 0x50}),
                         [](const ::testing::TestParamInfo<TInCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

TEST(CorePublishInQoS2, RepeatBeforePubRelIsAnsweredNotDeliveredAgain) {
  TSession s;
  s.Accept();
  s.Feed(PublishFrame(qosExactlyOnce, 5, "t", "1"));
  s.Feed(PublishFrame(qosExactlyOnce, 5, "t", "1", true));
  EXPECT_EQ(s.Sink.WritesOf(0x50), 2);
  EXPECT_EQ(s.Sink.Messages.size(), 1u);
  EXPECT_EQ(s.Core.HeldQoS2Count(), 1);
  s.Feed(Ack(mtPUBREL, 5));
  EXPECT_EQ(s.Sink.Writes.back(), Ack(mtPUBCOMP, 5));
  EXPECT_EQ(s.Core.HeldQoS2Count(), 0);
  // The exchange is over: the id is a new message now.
  s.Feed(PublishFrame(qosExactlyOnce, 5, "t", "2"));
  EXPECT_EQ(s.Sink.Messages.size(), 2u);
}

TEST(CorePublishInQoS2, PubRecForAnUnknownIdIsAnsweredAndNothingKept) {
  TSession s;
  s.Accept();
  for (uint16_t id = 1; id <= 200; ++id) s.Feed(Ack(mtPUBREC, id));
  EXPECT_EQ(s.Sink.WritesOf(0x62), 200);
  EXPECT_EQ(s.Core.InFlightCount(), 0);
}

// ---- Subscriptions ----

struct TSubAckCase {
  const char* Name;
  std::vector<uint8_t> Codes;
  std::vector<bool> Accepted;
  std::vector<TNeloMQTTQoS> MaxQoS;
  std::size_t Kept;
};

class CoreSubscribe : public ::testing::TestWithParam<TSubAckCase> {};

TEST_P(CoreSubscribe, SubAckPairsCodesWithFilters) {
  const TSubAckCase& c = GetParam();
  TSession s;
  s.Accept();
  const uint16_t id = s.Core.Subscribe({"a", "b/#"}, {qosExactlyOnce, qosAtLeastOnce}, s.Now);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  // The same bytes as the codec's packet.
  EXPECT_EQ(s.Sink.Writes[0],
            TNeloMQTTSubscribePacket(id, {"a", "b/#"}, {qosExactlyOnce, qosAtLeastOnce}).GetBytes());
  EXPECT_EQ(s.Core.InFlightCount(), 1);
  s.Feed(SubAckFrame(id, c.Codes));
  ASSERT_EQ(s.Sink.Subscriptions.size(), 1u);
  const TNeloMQTTSubscriptions& subs = s.Sink.Subscriptions[0];
  ASSERT_EQ(subs.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(subs[i].Topic, i == 0 ? "a" : "b/#");
    EXPECT_EQ(subs[i].Accepted, c.Accepted[i]) << i;
    EXPECT_EQ(subs[i].MaxQoS, c.MaxQoS[i]) << i;
  }
  EXPECT_EQ(s.Sink.Acks[0].Kind, akSubscribed);
  EXPECT_EQ(s.Sink.Acks[0].PacketId, id);
  EXPECT_EQ(s.Core.KeptSubscriptions().size(), c.Kept);
  EXPECT_EQ(s.Core.InFlightCount(), 0);
  // A second SUBACK for the same id raises nothing.
  s.Sink.Forget();
  s.Feed(SubAckFrame(id, c.Codes));
  EXPECT_TRUE(s.Sink.Acks.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CoreSubscribe,
    ::testing::Values(
        TSubAckCase{"BothGranted", {0x02, 0x01}, {true, true}, {qosExactlyOnce, qosAtLeastOnce}, 2},
        TSubAckCase{"SecondFailed", {0x01, 0x80}, {true, false}, {qosAtLeastOnce, qosAtMostOnce}, 1},
        TSubAckCase{"BothFailed", {0x80, 0x80}, {false, false}, {qosAtMostOnce, qosAtMostOnce}, 0},
        // A code short: the filter without one is not accepted.
        TSubAckCase{"CodeMissing", {0x00}, {true, false}, {qosAtMostOnce, qosAtMostOnce}, 1}),
    [](const ::testing::TestParamInfo<TSubAckCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(CoreSubscribeCounts, FiltersAndLevelsOfDifferentLengthsAreRefused) {
  TSession s;
  s.Accept();
  try {
    s.Core.Subscribe({"a", "b"}, {qosAtLeastOnce}, s.Now);
    ADD_FAILURE() << "no error";
  } catch (const ENeloMQTTError& e) {
    EXPECT_STREQ(e.what(), TNeloMQTTCodecTexts::kSubscribeCountMismatch);
  }
  EXPECT_TRUE(s.Sink.Writes.empty());
  EXPECT_EQ(s.Core.InFlightCount(), 0);
}

TEST(CoreUnsubscribe, UnsubAckAcknowledgesAndTheFilterIsNoLongerKept) {
  TSession s;
  s.Accept();
  const uint16_t sub = s.Core.Subscribe({"a", "b"}, {qosAtLeastOnce, qosAtLeastOnce}, s.Now);
  s.Feed(SubAckFrame(sub, {0x01, 0x01}));
  s.Sink.Forget();
  const uint16_t id = s.Core.Unsubscribe({"a"}, s.Now);
  ASSERT_EQ(s.Sink.Writes.size(), 1u);
  EXPECT_EQ(s.Sink.Writes[0], (TNeloMQTTBytes{0xA2, 0x05, 0x00, static_cast<uint8_t>(id), 0x00, 0x01, 'a'}));
  EXPECT_EQ(s.Sink.Writes[0], TNeloMQTTUnSubscribePacket(id, {"a"}).GetBytes());
  ASSERT_EQ(s.Core.KeptSubscriptions().size(), 1u);
  EXPECT_EQ(s.Core.KeptSubscriptions()[0].first, "b");
  s.Feed(Ack(mtUNSUBACK, id));
  ASSERT_EQ(s.Sink.Acks.size(), 1u);
  EXPECT_EQ(s.Sink.Acks[0].Kind, akUnsubscribed);
  EXPECT_EQ(s.Core.InFlightCount(), 0);
}

// ---- The answer backlog ----

TEST(CoreFlushTracking, InputHeldAtAFrameBoundaryWhileAnswersWait) {
  TSession s;
  s.Accept();
  s.Core.SetFlushTracking(true);
  TNeloMQTTBytes stream;
  for (uint16_t id = 1; id <= 100; ++id) {
    const TNeloMQTTBytes frame = PublishFrame(qosAtLeastOnce, id, "t", "x");
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  const std::size_t frameSize = PublishFrame(qosAtLeastOnce, 1, "t", "x").size();
  std::size_t taken = s.Core.Received(stream.data(), stream.size(), s.Now);
  EXPECT_EQ(taken, TNeloMQTTCore::kAnswerBacklog * frameSize);
  EXPECT_TRUE(s.Core.InputHeld());
  EXPECT_EQ(s.Sink.Messages.size(), static_cast<std::size_t>(TNeloMQTTCore::kAnswerBacklog));
  // Half flushed: room for as many again.
  s.Core.Flushed(4 * 32);
  EXPECT_EQ(s.Core.PendingAnswers(), 32);
  taken += s.Core.Received(stream.data() + taken, stream.size() - taken, s.Now);
  EXPECT_EQ(taken, 96 * frameSize);
  s.Core.Flushed(4 * 64);
  taken += s.Core.Received(stream.data() + taken, stream.size() - taken, s.Now);
  EXPECT_EQ(taken, stream.size());
  EXPECT_EQ(s.Sink.Messages.size(), 100u);
  EXPECT_EQ(s.Sink.WritesOf(0x40), 100);
}

TEST(CoreFlushTracking, OffByDefaultEverythingIsTaken) {
  TSession s;
  s.Accept();
  TNeloMQTTBytes stream;
  for (uint16_t id = 1; id <= 100; ++id) {
    const TNeloMQTTBytes frame = PublishFrame(qosAtLeastOnce, id, "t", "x");
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  EXPECT_EQ(s.Core.Received(stream.data(), stream.size(), s.Now), stream.size());
  EXPECT_EQ(s.Core.PendingAnswers(), 0);
}

}  // namespace
