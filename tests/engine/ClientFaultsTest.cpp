// The client against a hostile or misbehaving scripted broker: the window
// of QoS 2 exchanges, acknowledgements behind a full window, a peer that
// stops reading, reconnects after Disconnect, protocol violations, oversized
// frames, silent peers and subscriptions lost with the broker's session.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <set>
#include <thread>

#include "EngineTestSupport.h"
#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.Topics.h"

using namespace tessiva::test;

namespace {

class ClientFaultsTest : public TClientFixture {
 protected:
  // Frames until the client has been quiet for AQuiet.
  std::vector<TMqttFrame> FramesUntilQuiet(
      std::chrono::milliseconds AQuiet = std::chrono::milliseconds(150)) {
    std::vector<TMqttFrame> frames;
    while (auto frame = ReadFrame(AQuiet)) frames.push_back(*frame);
    return frames;
  }

  // Waits, serving hand-offs, until the client has closed its side.
  bool ClientClosed() {
    return PumpUntil([this] {
      FConnection->ReadFrame(std::chrono::milliseconds(1));
      return FConnection->PeerClosed();
    });
  }
};

TEST_F(ClientFaultsTest, AnOutgoingQoS2MessageKeepsItsWindowSlotUntilItsPubComp) {
  ConnectAccepted();
  constexpr int kCount = 30;
  std::vector<uint16_t> ids;
  for (int i = 0; i < kCount; ++i)
    ids.push_back(FClient->Publish("q2", std::to_string(i), qosExactlyOnce, false));
  // The broker answers every PUBLISH with PUBREC; PUBRELs are answered
  // with PUBCOMP only when AComplete.
  std::vector<uint16_t> published, released;
  auto exchange = [&](bool AComplete) {
    while (auto frame = ReadFrame(std::chrono::milliseconds(150))) {
      if (frame->Type() == mtPUBLISH) {
        published.push_back(frame->Word(4));
        FConnection->Send(IdFrame(0x50, frame->Word(4)));
      } else if (frame->Type() == mtPUBREL) {
        released.push_back(frame->Word(0));
        if (AComplete) FConnection->Send(IdFrame(0x70, frame->Word(0)));
      }
    }
  };
  // PUBCOMPs withheld: no more than the window (10) of exchanges is opened.
  exchange(false);
  EXPECT_EQ(published.size(), 10u);
  EXPECT_EQ(released.size(), 10u);
  // The PUBCOMPs let the rest through, in order.
  for (uint16_t id : released) FConnection->Send(IdFrame(0x70, id));
  exchange(true);
  EXPECT_EQ(published, ids);
  EXPECT_TRUE(PumpUntil([this] { return FClient->Session()->OutstandingPackets() == 0; }));
}

TEST_F(ClientFaultsTest, AcknowledgementsAndPingsDoNotWaitBehindAFullWindow) {
  ConnectAccepted();
  // Ten QoS 1 messages fill the window (their PUBACKs withheld), two more wait.
  for (int i = 0; i < 12; ++i) FClient->Publish("q1", std::to_string(i), qosAtLeastOnce, false);
  EXPECT_EQ(FramesUntilQuiet().size(), 10u);
  FConnection->Send(MakeFrame(0x32, PublishBody("in", 77, 1, Text("x"))));
  FConnection->Send(MakeFrame(0x34, PublishBody("in", 78, 2, Text("y"))));
  auto puback = ReadFrame();
  ASSERT_TRUE(puback);
  EXPECT_EQ(puback->Raw, IdFrame(0x40, 77));
  auto pubrec = ReadFrame();
  ASSERT_TRUE(pubrec);
  EXPECT_EQ(pubrec->Raw, IdFrame(0x50, 78));
  FConnection->Send(IdFrame(0x62, 78));
  auto pubcomp = ReadFrame();
  ASSERT_TRUE(pubcomp);
  EXPECT_EQ(pubcomp->Raw, IdFrame(0x70, 78));
  FClient->Ping();
  auto ping = ReadFrame();
  ASSERT_TRUE(ping);
  EXPECT_EQ(ping->Raw, Bytes({0xC0, 0x00}));
}

// A peer that takes nothing more while a large payload is being written.
class StalledPeerTest : public ClientFaultsTest {
 protected:
  void StallWriter() {
    ConnectAccepted();
    // No write time-out during this test: only Disconnect or destruction end the write.
    FClient->Connection()->SetWriteTimeout(600000);
    FClient->Publish("big", TNeloMQTTBytes(64u << 20, 'x'), qosAtMostOnce, false);
    // The socket buffers fill up; the writer then waits for room that never comes.
    Pump(std::chrono::milliseconds(300));
  }
};

TEST_F(StalledPeerTest, DisconnectDoesNotWaitForABlockedWrite) {
  StallWriter();
  FClient->Disconnect();
  EXPECT_EQ(FClient->ConnectionStatus(), csNotConnected);
  EXPECT_FALSE(FClient->Connection()->IsReady());
  FClient.reset();
}

TEST_F(StalledPeerTest, DestructionDoesNotWaitForABlockedWrite) {
  StallWriter();
  FClient.reset();
  EXPECT_FALSE(FClient);
}

TEST_F(ClientFaultsTest, AWriteWithoutProgressLosesTheConnectionAndWhatWasQueuedForIt) {
  FClient->KeepAliveSettings()->SetKeepConnectionAlive(false);
  ConnectAccepted();
  FClient->Connection()->SetWriteTimeout(300);
  // The peer reads nothing more (and takes little into its buffer).
  const int small = 4096;
  ::setsockopt(FConnection->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  FClient->Publish("big", TNeloMQTTBytes(32u << 20, 'x'), qosAtMostOnce, false);
  Pump(std::chrono::milliseconds(100));
  // Messages from the peer meanwhile: their PUBACKs queue up behind the write.
  for (uint16_t id = 1; id <= 5; ++id) FConnection->Send(MakeFrame(0x32, PublishBody("f", id, 1, Text("x"))));
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() == 5; }));
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
  EXPECT_TRUE(WaitForLog("OUT - Write exception"));
  EXPECT_FALSE(FClient->Connection()->IsReady());
  // The acknowledgements for that connection went with it; the
  // application's message stays for the next connection.
  EXPECT_TRUE(PumpUntil([this] { return FClient->Session()->OutstandingPackets() == 1; }));
  EXPECT_EQ(FClient->Session()->OutstandingPackets(), 1);
}

TEST_F(ClientFaultsTest, AReconnectRequestHandedOverBeforeDisconnectIsNotServed) {
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(0);
  ConnectAccepted();
  FConnection->CloseOrderly();
  // The keep-alive thread hands its request over; this thread does not serve it yet.
  const auto deadline = std::chrono::steady_clock::now() + kWaitLong;
  while (FLog.Count("KEEP ALIVE - No Connection. Requesting Reconnect.") == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(FLog.Count("KEEP ALIVE - No Connection. Requesting Reconnect."), 1u);
  FClient->Disconnect();
  Pump(std::chrono::milliseconds(300));
  EXPECT_FALSE(FBroker.Accept(std::chrono::milliseconds(100)));
  EXPECT_EQ(FClient->ConnectionStatus(), csNotConnected);
  EXPECT_EQ(FLog.Count("CLIENT- Connecting --------------------------- "), 1u);
}

// A broker that refuses the credentials or the client would refuse them at
// every attempt (and may lock the account): no automatic reconnect after
// such a refusal until the next Connect. "Server unavailable" is retried.
TEST_F(ClientFaultsTest, ARefusalOfTheCredentialsStopsReconnectingUntilTheNextConnect) {
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(1);
  struct TCase {
    uint8_t Code;
    TNeloMQTTConnectionStatus Status;
    bool Retried;
  };
  const TCase cases[] = {
      {2, csConnectionRejected_InvalidIdentifier, false},
      {3, csConnectionRejected_ServerUnavailable, true},
      {4, csConnectionRejected_InvalidCredentials, false},
      {5, csConnectionRejected_ClientNotAuthorized, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Code));
    FClient->Connect(true);
    for (int attempt = 0; attempt < (c.Retried ? 3 : 1); ++attempt) {
      auto conn = FBroker.Accept();
      ASSERT_TRUE(conn) << attempt;
      FConnection = std::move(conn);
      ASSERT_TRUE(ReadFrame());
      FConnection->Send(MakeFrame(0x20, Bytes({0, c.Code})));
      ASSERT_TRUE(PumpUntil([&] { return FClient->ConnectionStatus() == c.Status; }));
      FConnection->CloseOrderly();
      ASSERT_TRUE(PumpUntil([this] { return !FClient->Session()->HasActiveNetworkConnection(); }));
      FClock.Advance(1000);
      if (!c.Retried) continue;
      ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->HasActiveNetworkConnection(); }));
    }
    if (!c.Retried) {
      Pump(std::chrono::milliseconds(200));
      EXPECT_FALSE(FBroker.Accept(std::chrono::milliseconds(100)));
      EXPECT_EQ(FLog.CountPrefix("CLIENT- The broker refused the credentials or the client, no automatic "
                                 "reconnect until the next Connect: return code " +
                                 std::to_string(c.Code)),
                1u);
    }
    FClient->Disconnect();
    EXPECT_EQ(FClient->ConnectionStatus(), csNotConnected);
    FClock.Advance(5000);
    Pump(std::chrono::milliseconds(200));
    // The attempt that was open when Disconnect came (and closed it).
    if (c.Retried) {
      EXPECT_TRUE(FBroker.Accept());
    }
    EXPECT_FALSE(FBroker.Accept(std::chrono::milliseconds(100)));
    FLog.Clear();
  }
  // The next Connect is the operator's and works as usual.
  ConnectAccepted();
}

TEST_F(ClientFaultsTest, ProtocolViolationsCloseTheConnection) {
  struct TCase {
    const char* Name;
    TByteVector Frame;
  };
  const TCase cases[] = {
      {"PUBLISH with QoS bits 11", MakeFrame(0x36, PublishBody("t", 5, 2, Text("x")))},
      {"QoS 1 PUBLISH with packet id 0", MakeFrame(0x32, PublishBody("t", 0, 1, Text("x")))},
      {"QoS 2 PUBLISH with packet id 0", MakeFrame(0x34, PublishBody("t", 0, 2, Text("x")))},
      {"topic length past the frame", MakeFrame(0x30, Bytes({0x00, 0x09, 't', 'o'}))},
      {"second CONNACK", MakeFrame(0x20, Bytes({0, 0}))},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FStatuses.clear();
    FPublishes.clear();
    ConnectAccepted();
    FConnection->Send(c.Frame);
    EXPECT_TRUE(ClientClosed());
    EXPECT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
    // Nothing was answered or delivered.
    EXPECT_TRUE(FPublishes.empty());
    FClient->Disconnect();
  }
  EXPECT_EQ(FLog.Count("CLIENT- Protocol violation by the broker, closing the connection"), std::size(cases));
}

TEST_F(ClientFaultsTest, AFrameLargerThanTheCapClosesTheConnectionBeforeItsBodyIsRead) {
  // Refused for its size, not for a body that never came (a read time-out
  // would close the connection too, seconds later).
  const auto capRefusals = [this] {
    std::size_t count = 0;
    for (const auto& entry : FLog.Entries())
      if (entry.Message == "IN - Read exception" &&
          entry.Line.find("is larger than MaxIncomingPacketSize") != std::string::npos)
        ++count;
    return count;
  };
  FClient->SetMaxIncomingPacketSize(1000);
  EXPECT_EQ(TNeloMQTTClient().MaxIncomingPacketSize(), 64u * 1024 * 1024);
  ConnectAccepted();
  // A SUBACK of exactly the cap is accepted ...
  FConnection->Send(MakeFrame(0x90, TByteVector(1000, 0x01)));
  ASSERT_TRUE(PumpUntil([this] { return FReceived.size() >= 2; }));
  EXPECT_EQ(FReceived.back().PacketType, mtSUBACK);
  // ... one byte more ends the connection as soon as its length is read:
  // only the fixed header is sent, no body ever follows.
  FConnection->Send(Bytes({0x90, 0xE9, 0x07}));  // 1001
  EXPECT_TRUE(ClientClosed());
  EXPECT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
  EXPECT_EQ(FLog.Count("IN - Read exception"), 1u);
  EXPECT_EQ(capRefusals(), 1u);
  // A 256 MiB header the same way, on the default cap.
  FClient->SetMaxIncomingPacketSize(TNeloMQTTNeloMQTTClientSession::kDefaultMaxIncomingPacketSize);
  ConnectAccepted(false);
  FConnection->Send(Bytes({0x90, 0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_TRUE(ClientClosed());
  EXPECT_EQ(FLog.Count("IN - Read exception"), 2u);
  EXPECT_EQ(capRefusals(), 2u);
}

TEST_F(ClientFaultsTest, AConnAckThatNeverComesClosesTheConnection) {
  FClient->Connect(true);
  FConnection = FBroker.Accept();
  ASSERT_TRUE(FConnection);
  ASSERT_TRUE(ReadFrame());  // the CONNECT, never answered
  FClock.Advance(4999);
  Pump(std::chrono::milliseconds(50));
  EXPECT_FALSE(FConnection->PeerClosed());
  FClock.Advance(1);
  EXPECT_TRUE(ClientClosed());
  EXPECT_TRUE(WaitForLog("CLIENT- No CONNACK within the connect time-out, closing the connection"));
  EXPECT_EQ(FClient->ConnectionStatus(), csConnectionLost);
}

TEST_F(ClientFaultsTest, AnUnansweredPingClosesTheConnectionAndAutoReconnectApplies) {
  FClient->KeepAliveSettings()->SetKeepAliveInterval(2);
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(1);
  ConnectAccepted();
  FClock.Advance(3000);
  auto ping = ReadFrame();
  ASSERT_TRUE(ping);
  EXPECT_EQ(ping->Raw, Bytes({0xC0, 0x00}));
  // Answered pings keep the connection.
  FConnection->Send(Bytes({0xD0, 0x00}));
  ASSERT_TRUE(PumpUntil([this] { return FPingResponses == 1; }));
  FClock.Advance(3000);
  ping = ReadFrame();
  ASSERT_TRUE(ping);
  // This one is not answered within the keep-alive interval.
  FClock.Advance(2000);
  EXPECT_TRUE(ClientClosed());
  EXPECT_TRUE(WaitForLog("CLIENT- No PINGRESP within the keep-alive interval, closing the connection"));
  EXPECT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() != csConnected; }));
  FClock.Advance(1000);
  ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->HasActiveNetworkConnection(); }));
  auto again = FBroker.Accept();
  ASSERT_TRUE(again);
  FConnection = std::move(again);
  auto connect = ReadFrame();
  ASSERT_TRUE(connect);
  EXPECT_EQ(connect->Type(), mtCONNECT);
}

TEST_F(ClientFaultsTest, SubscriptionsAreMadeAgainWhenTheBrokerKeptNoSession) {
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(1);
  ConnectAccepted();
  const uint16_t id = FClient->Subscribe(TNeloStringArray{"a/b", "c/#", "refused"},
                                         TNeloQosArray{qosAtLeastOnce, qosExactlyOnce, qosAtMostOnce});
  auto subscribe = ReadFrame();
  ASSERT_TRUE(subscribe);
  FConnection->Send(MakeFrame(0x90, Bytes({id >> 8, id & 0xFF, 0x01, 0x02, 0x80})));
  ASSERT_TRUE(PumpUntil([this] { return !FReceived.empty() && FReceived.back().PacketType == mtSUBACK; }));
  const uint16_t gone = FClient->Subscribe("x/y", qosAtMostOnce);
  ASSERT_TRUE(ReadFrame());
  FConnection->Send(MakeFrame(0x90, Bytes({gone >> 8, gone & 0xFF, 0x00})));
  ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->RequestedSubscriptions().empty(); }));
  FClient->Unsubscribe("x/y");
  ASSERT_TRUE(ReadFrame());

  // Reconnect 1: the broker kept the session; nothing is subscribed again.
  // Reconnect 2: no session; the granted filters are subscribed again.
  for (int sessionPresent = 1; sessionPresent >= 0; --sessionPresent) {
    SCOPED_TRACE(sessionPresent);
    FConnection->CloseOrderly();
    ASSERT_TRUE(PumpUntil([this] { return !FClient->Session()->HasActiveNetworkConnection(); }));
    FClock.Advance(1000);
    ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->HasActiveNetworkConnection(); }));
    auto conn = FBroker.Accept();
    ASSERT_TRUE(conn);
    FConnection = std::move(conn);
    ASSERT_TRUE(ReadFrame());
    FConnection->Send(MakeFrame(0x20, Bytes({sessionPresent, 0})));
    ASSERT_TRUE(PumpUntil([this] { return FClient->IsConnected(); }));
    auto frame = ReadFrame(std::chrono::milliseconds(200));
    if (sessionPresent) {
      // What the resumed session still owes goes again at once (MQTT 3.1.1,
      // 4.4): the unanswered UNSUBSCRIBE; nothing is subscribed again.
      ASSERT_TRUE(frame);
      EXPECT_EQ(frame->Type(), mtUNSUBSCRIBE);
      EXPECT_FALSE(ReadFrame(std::chrono::milliseconds(200)));
      continue;
    }
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->Type(), mtSUBSCRIBE);
    // Id, then each filter with its QoS as first asked: the refused one and
    // the unsubscribed one are not among them.
    const TByteVector expected{0, 3, 'a', '/', 'b', 1, 0, 3, 'c', '/', '#', 2};
    EXPECT_EQ(TByteVector(frame->Body.begin() + 2, frame->Body.end()), expected);
  }
  EXPECT_EQ(FLog.CountPrefix("CLIENT- No session kept by the broker, subscribing again: a/b, c/#"), 1u);
}

TEST(TopicUtf8Test, TopicsThatAreNotWellFormedUtf8AreRefused) {
  struct TCase {
    std::string Topic;
    bool Valid;
  };
  const TCase cases[] = {
      {"printer/打印机", true},
      {"emoji/😀", true},
      {std::string("bad/\xC3"), false},              // cut short
      {std::string("bad/\xC3\x28"), false},          // not a continuation byte
      {std::string("bad/\xC0\xAF"), false},          // overlong '/'
      {std::string("bad/\xED\xA0\x80"), false},      // surrogate
      {std::string("bad/\xF4\x90\x80\x80"), false},  // above U+10FFFF
      {std::string("bad/\xFF"), false},
      {std::string("nul/\0x", 6), false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Topic);
    EXPECT_EQ(TNeloMQTTTopic::ValidateTopicName(c.Topic), c.Valid);
    EXPECT_EQ(TNeloMQTTTopic::ValidateTopicFilter(c.Topic), c.Valid);
  }
}

TEST_F(ClientFaultsTest, PublishRefusesATopicThatIsNotUtf8) {
  ConnectAccepted();
  try {
    FClient->Publish(std::string("bad/\xC3\x28"), std::string("x"), qosAtMostOnce, false);
    FAIL() << "invalid UTF-8 topic accepted";
  } catch (const ENeloMQTTAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "This is not a valid topic name");
  }
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(50)));
}

}  // namespace
