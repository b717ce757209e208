// The state the client shares with its threads (the write queue, the answer
// backlog, the subscription requests), and the word list view. Packet ids,
// the window, resends and acknowledgements are the protocol core's
// (tests/core).
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.Internal.Collections.h"

using namespace tessiva::test;

namespace {

TQueuedWrite Write(TNeloMQTTBytes ABytes, bool AAnswer = false, bool APublish0 = false) {
  TQueuedWrite write;
  write.Bytes = std::move(ABytes);
  write.Answer = AAnswer;
  write.Publish0 = APublish0;
  return write;
}

TEST(SessionTest, WritesGoOutInOrderWithTheInfoOfTheirPacket) {
  TNeloMQTTNeloMQTTClientSession session;
  int queued = 0;
  session.SetOnPacketQueued([&] { ++queued; });
  session.QueueWrite(Write({0x10, 0x00}));
  TNeloMQTTPacketInfo info;
  info.PacketType = mtCONNECT;
  session.AttachInfoToLast(info);
  session.QueueWrite(Write({0x30, 0x00}, false, true));
  EXPECT_EQ(queued, 2);
  EXPECT_EQ(session.OutstandingPackets(), 1);  // the QoS 0 PUBLISH until it is written
  TQueuedWrite taken;
  ASSERT_TRUE(session.TakeWrite(taken));
  EXPECT_EQ(taken.Bytes, (TNeloMQTTBytes{0x10, 0x00}));
  EXPECT_TRUE(taken.HasInfo);
  EXPECT_EQ(taken.Info.PacketType, mtCONNECT);
  session.WriteDone(taken, true);
  ASSERT_TRUE(session.TakeWrite(taken));
  EXPECT_FALSE(taken.HasInfo);
  session.WriteDone(taken, true);
  EXPECT_FALSE(session.TakeWrite(taken));
  EXPECT_EQ(session.OutstandingPackets(), 0);
  EXPECT_EQ(session.TakeFlushed(), 4u);
  EXPECT_EQ(session.TakeFlushed(), 0u);
}

TEST(SessionTest, TheAnswerBacklogHoldsTheReaderUntilHalfIsSent) {
  TNeloMQTTNeloMQTTClientSession session;
  int drained = 0;
  session.SetOnAnswersDrained([&] { ++drained; });
  for (int i = 0; i < TNeloMQTTNeloMQTTClientSession::kAnswerBacklog; ++i)
    session.QueueWrite(Write({0x40, 0x02, 0x00, static_cast<uint8_t>(i + 1)}, true));
  EXPECT_TRUE(session.AnswersBacklogged());
  TQueuedWrite taken;
  for (int i = 0; i < TNeloMQTTNeloMQTTClientSession::kAnswerBacklog / 2; ++i) {
    ASSERT_TRUE(session.TakeWrite(taken));
    session.WriteDone(taken, true);
    EXPECT_FALSE(session.AnswersBacklogged());
    EXPECT_EQ(drained, 0);
  }
  ASSERT_TRUE(session.TakeWrite(taken));
  session.WriteDone(taken, true);
  EXPECT_EQ(drained, 1);
}

TEST(SessionTest, ClearingDropsWhatWasQueuedButKeepsQoS0PublishesForTheNextConnection) {
  TNeloMQTTNeloMQTTClientSession session;
  session.QueueWrite(Write({0x40, 0x02, 0x00, 0x01}, true));
  session.QueueWrite(Write({0x30, 0x03, 0x00, 0x01, 'a'}, false, true));
  session.QueueWrite(Write({0x30, 0x03, 0x00, 0x01, 'b'}, false, true));
  EXPECT_EQ(session.QueuedAnswers(), 1);
  EXPECT_EQ(session.OutstandingPackets(), 2);
  // The first PUBLISH is taken and its write fails; the rest is cleared.
  TQueuedWrite taken;
  ASSERT_TRUE(session.TakeWrite(taken));
  session.WriteDone(taken, true);  // the answer went out
  ASSERT_TRUE(session.TakeWrite(taken));
  session.WriteDone(taken, false);
  session.ClearWrites();
  EXPECT_FALSE(session.HasOutgoingPackets());
  EXPECT_EQ(session.QueuedAnswers(), 0);
  EXPECT_EQ(session.OutstandingPackets(), 2);
  session.RequeueKeptPublishes();
  for (const char payload : {'a', 'b'}) {
    ASSERT_TRUE(session.TakeWrite(taken));
    EXPECT_EQ(taken.Bytes.back(), payload);
    session.WriteDone(taken, true);
  }
  EXPECT_EQ(session.OutstandingPackets(), 0);
}

TEST(SessionTest, SubscriptionRequestsAreFoundOnceByTheirId) {
  TNeloMQTTNeloMQTTClientSession session;
  for (uint16_t id : {4, 5, 4}) {
    auto r = std::make_unique<TNeloMQTTRequestedSubscription>();
    r->PacketId = id;
    r->Topics = {"t" + std::to_string(session.RequestedSubscriptions().size())};
    session.AddSubscriptionRequest(std::move(r));
  }
  EXPECT_FALSE(session.GetSubscriptionRequest(9));
  EXPECT_EQ(session.RequestedSubscriptions().size(), 3u);
  auto first = session.GetSubscriptionRequest(4);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Topics, TNeloStringArray{"t0"});
  auto second = session.GetSubscriptionRequest(4);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Topics, TNeloStringArray{"t2"});
  EXPECT_FALSE(session.GetSubscriptionRequest(4));
}

TEST(WordListTest, KeepsDuplicatesAndChecksIndexes) {
  TNeloMQTTWordThreadList list;
  TNeloMQTTWordList& view = list.GetLock();
  EXPECT_EQ(view.Add(5), 0);
  EXPECT_EQ(view.Add(5), 1);
  view.SetItems(1, 6);
  EXPECT_EQ(view.Items(1), 6);
  EXPECT_THROW(view.Items(2), std::out_of_range);
  EXPECT_THROW(view.Delete(-1), std::out_of_range);
  view.Delete(0);
  EXPECT_EQ(view.Count(), 1);
  list.ReleaseLock();
}

}  // namespace
