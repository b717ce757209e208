// The session's lists and ids, and the word list view.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.Internal.Collections.h"

using namespace tessiva::test;

namespace {

std::unique_ptr<TQueuedOutPacket> Packet(uint16_t AId, TNeloMQTTQoS AQos, TNeloMQTTPacketType AType,
                                         TNeloMQTTBytes ABytes = {0x30, 0x00}) {
  return std::make_unique<TQueuedOutPacket>(AId, AQos, AType, std::move(ABytes));
}

TEST(SessionTest, PacketIdsRunFromOneWrapAndSkipIdsStillHeld) {
  TNeloMQTTNeloMQTTClientSession session;
  EXPECT_EQ(session.GetNextPacketId(), 1);
  EXPECT_EQ(session.GetNextPacketId(), 2);
  // Id 3 waits for its acknowledgement: it is not handed out again.
  session.QueueOutgoingPacket(Packet(3, qosAtLeastOnce, mtPUBLISH));
  for (int i = 3; i < 65535; ++i) {
    const uint16_t id = session.GetNextPacketId();
    ASSERT_NE(id, 0);
    ASSERT_NE(id, 3);
  }
  // 65535 was handed out (id 3 skipped, so the last call got it); wrap to 1.
  EXPECT_EQ(session.GetNextPacketId(), 1);
  EXPECT_EQ(session.GetNextPacketId(), 2);
  EXPECT_EQ(session.GetNextPacketId(), 4);
  // Once released, 3 is free again.
  session.StartOutgoingPacketsCycle();
  session.ReleaseOutPacket(session.GetNextInFlightPacket());
  for (int i = 0; i < 65533; ++i) session.GetNextPacketId();
  EXPECT_EQ(session.GetNextPacketId(), 3);
}

TEST(SessionTest, AcknowledgementsAreKeptPerListWhileAPacketWaits) {
  TNeloMQTTNeloMQTTClientSession session;
  session.QueueOutgoingPacket(Packet(7, qosAtLeastOnce, mtPUBLISH));
  session.QueueOutgoingPacket(Packet(7, qosAtLeastOnce, mtPUBREL, {0x62, 0x02, 0x00, 0x07}));
  session.MarkAsAcknowledged(7, mtPUBLISH);
  session.MarkAsAcknowledged(7, mtPUBLISH);
  EXPECT_FALSE(session.IsAcknowlegded(7, mtPUBREL, false));  // another list
  EXPECT_FALSE(session.IsAcknowlegded(7, mtPUBREC, false));
  EXPECT_TRUE(session.IsAcknowlegded(7, mtSUBSCRIBE, false));  // shares the PUBLISH list
  EXPECT_TRUE(session.IsAcknowlegded(7, mtPUBLISH, true));
  EXPECT_TRUE(session.IsAcknowlegded(7, mtPUBLISH, true));
  EXPECT_FALSE(session.IsAcknowlegded(7, mtPUBLISH, true));
  // Marks nobody will look for are not kept: PUBREC (we never send a QoS 1/2
  // PUBREC), an id no packet holds, CONNACK's id 0.
  session.MarkAsAcknowledged(7, mtPUBREC);
  session.MarkAsAcknowledged(9, mtPUBLISH);
  session.MarkAsAcknowledged(0, mtCONNECT);
  EXPECT_EQ(session.AcknowledgementCount(mtPUBREC), 0);
  EXPECT_EQ(session.AcknowledgementCount(mtPUBLISH), 0);
  // Marks left over when the packet leaves are dropped with it.
  session.MarkAsAcknowledged(7, mtPUBREL);
  session.MarkAsAcknowledged(7, mtPUBREL);
  session.StartOutgoingPacketsCycle();
  // The PUBREL travels ahead of the PUBLISH queued before it.
  auto pubrel = session.GetNextInFlightPacket();
  auto publish = session.GetNextInFlightPacket();
  ASSERT_TRUE(pubrel);
  ASSERT_TRUE(publish);
  EXPECT_EQ(pubrel->PacketType(), mtPUBREL);
  EXPECT_EQ(publish->PacketType(), mtPUBLISH);
  session.ReleaseOutPacket(std::move(pubrel));
  EXPECT_EQ(session.AcknowledgementCount(mtPUBREL), 0);
  session.ReleaseOutPacket(std::move(publish));
  EXPECT_EQ(session.OutstandingPackets(), 0);
}

TEST(SessionTest, WriterPassVisitsEachWaitingPacketOnceThenFillsTheWindow) {
  TNeloMQTTNeloMQTTClientSession session;
  for (uint16_t id = 1; id <= 3; ++id) session.QueueOutgoingPacket(Packet(id, qosAtLeastOnce, mtPUBLISH));
  session.StartOutgoingPacketsCycle();
  for (uint16_t id = 1; id <= 3; ++id) {
    auto p = session.GetNextInFlightPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->PacketId(), id);
    session.WaitForAcknowledge(std::move(p));
  }
  EXPECT_FALSE(session.GetNextInFlightPacket());

  // Next pass: packet 1 (which opens the pass) is acknowledged and leaves;
  // the pass still ends after 2 and 3, then takes the new packet 4.
  session.QueueOutgoingPacket(Packet(4, qosAtLeastOnce, mtPUBLISH));
  session.StartOutgoingPacketsCycle();
  auto p1 = session.GetNextInFlightPacket();
  ASSERT_EQ(p1->PacketId(), 1);
  session.ReleaseOutPacket(std::move(p1));
  std::vector<uint16_t> visited;
  while (auto p = session.GetNextInFlightPacket()) {
    visited.push_back(p->PacketId());
    session.WaitForAcknowledge(std::move(p));
  }
  EXPECT_EQ(visited, (std::vector<uint16_t>{2, 3, 4}));
}

TEST(SessionTest, AFullWindowHoldsBackPublishesButNeverAcknowledgementsPubRelsOrPings) {
  TNeloMQTTNeloMQTTClientSession session;
  for (uint16_t id = 1; id <= 10; ++id) session.QueueOutgoingPacket(Packet(id, qosAtLeastOnce, mtPUBLISH));
  session.StartOutgoingPacketsCycle();
  while (auto p = session.GetNextInFlightPacket()) session.WaitForAcknowledge(std::move(p));
  // Behind the full window: a QoS 0 PUBLISH (held, it keeps its order with
  // the other PUBLISHes), then an acknowledgement, a PUBREL and a ping.
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtPUBLISH));
  session.QueueOutgoingPacket(Packet(40, qosAtMostOnce, mtPUBACK, {0x40, 0x02, 0x00, 0x28}));
  session.QueueOutgoingPacket(Packet(41, qosAtLeastOnce, mtPUBREL, {0x62, 0x02, 0x00, 0x29}));
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtPINGREQ, {0xC0, 0x00}));
  // One pass as the writer makes it; AReleaseFirst acknowledges the first visited PUBLISH.
  auto pass = [&](bool AReleaseFirst) {
    std::vector<TNeloMQTTPacketType> types;
    bool released = false;
    session.StartOutgoingPacketsCycle();
    while (auto p = session.GetNextInFlightPacket()) {
      types.push_back(p->PacketType());
      const bool waits = p->Qos() != qosAtMostOnce;
      if (p->PacketType() == mtPUBLISH && waits && AReleaseFirst && !released) {
        released = true;
        session.ReleaseOutPacket(std::move(p));
      } else if (waits) {
        session.WaitForAcknowledge(std::move(p));
      } else {
        session.ReleaseOutPacket(std::move(p));
      }
    }
    return types;
  };
  // The control packets go first although the window is full; the PUBREL
  // then takes a slot of its own (its PUBLISH had one until its PUBREC).
  std::vector<TNeloMQTTPacketType> expected{mtPUBACK, mtPUBREL, mtPINGREQ};
  expected.insert(expected.end(), 10, mtPUBLISH);
  EXPECT_EQ(pass(false), expected);
  EXPECT_EQ(session.WindowUse(), 11);
  // The window is over-full: freeing one slot lets nothing new out.
  std::vector<TNeloMQTTPacketType> secondPass{mtPUBREL};
  secondPass.insert(secondPass.end(), 10, mtPUBLISH);
  EXPECT_EQ(pass(true), secondPass);
  // Two more free slots: the QoS 0 PUBLISH follows.
  std::vector<TNeloMQTTPacketType> thirdPass{mtPUBREL};
  thirdPass.insert(thirdPass.end(), 9, mtPUBLISH);
  thirdPass.push_back(mtPUBLISH);
  EXPECT_EQ(pass(true), thirdPass);
}

TEST(SessionTest, ClearEmptiesTheQueuesButKeepsPacketsInFlight) {
  TNeloMQTTNeloMQTTClientSession session;
  session.QueueOutgoingPacket(Packet(1, qosAtLeastOnce, mtPUBLISH));
  session.StartOutgoingPacketsCycle();
  session.WaitForAcknowledge(session.GetNextInFlightPacket());
  session.QueueOutgoingPacket(Packet(2, qosAtLeastOnce, mtPUBLISH));
  session.AddIncomingPacket(0xD0, {});
  session.Clear();
  EXPECT_FALSE(session.HasOutgoingPackets());
  EXPECT_FALSE(session.HasIncomingPackets());
  EXPECT_TRUE(session.HasInflightPackets());
  EXPECT_EQ(session.OutstandingPackets(), 1);
  // Id 2 is free again, 1 is not.
  EXPECT_EQ(session.GetNextPacketId(), 2);
}

TEST(SessionTest, ConnectIsHeldInItsOwnSlot) {
  TNeloMQTTNeloMQTTClientSession session;
  session.HoldUntilConnect();
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtPINGREQ, {0xC0, 0x00}));
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtCONNECT, {0x10, 0x00}));
  EXPECT_TRUE(session.ConnectPending());
  auto connect = session.TakeConnectPacket();
  ASSERT_TRUE(connect);
  EXPECT_EQ(connect->PacketType(), mtCONNECT);
  EXPECT_FALSE(session.TakeConnectPacket());
  session.ConnectPacketWritten();
  EXPECT_FALSE(session.ConnectPending());
  EXPECT_EQ(session.OutstandingPackets(), 1);  // the PINGREQ; the CONNECT is not counted

  // A CONNECT of an attempt that never got written does not open the next
  // connection: a new hold discards it.
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtCONNECT, {0x10, 0x01}));
  session.HoldUntilConnect();
  EXPECT_TRUE(session.ConnectPending());
  EXPECT_FALSE(session.TakeConnectPacket());
  // A CONNECT queued while the previous one was being written keeps the hold
  // and is the next one taken.
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtCONNECT, {0x10, 0x02}));
  auto older = session.TakeConnectPacket();
  ASSERT_TRUE(older);
  session.QueueOutgoingPacket(Packet(0, qosAtMostOnce, mtCONNECT, {0x10, 0x03}));
  session.ConnectPacketWritten();
  EXPECT_TRUE(session.ConnectPending());
  auto newer = session.TakeConnectPacket();
  ASSERT_TRUE(newer);
  EXPECT_EQ(newer->Packet(), (TNeloMQTTBytes{0x10, 0x03}));
  session.ConnectPacketWritten();
  EXPECT_FALSE(session.ConnectPending());
}

TEST(SessionTest, RegisterAttemptMarksOnlyPublishAsDuplicate) {
  struct TCase {
    TNeloMQTTPacketType Type;
    uint8_t Before, After;
  };
  for (const TCase& c :
       {TCase{mtPUBLISH, 0x32, 0x3A}, TCase{mtPUBLISH, 0x3D, 0x3D}, TCase{mtPUBREL, 0x62, 0x62}}) {
    TQueuedOutPacket p(1, qosAtLeastOnce, c.Type, {c.Before, 0x00});
    TFakeEngineClock clock;
    clock.Advance(1234);
    p.RegisterAttempt();
    EXPECT_EQ(p.Packet()[0], c.After);
    EXPECT_EQ(p.Attempt(), 1);
    EXPECT_EQ(p.LastAttempt(), clock.Value());
  }
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
