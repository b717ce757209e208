// The client against a scripted fake broker: the QoS flows from both sides,
// retries driven by the fake engine clock, keep-alive, faults on the stream,
// disconnect and reconnect.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "Nelo.MQTT.Client.Session.h"

using namespace tessiva::test;

namespace {

constexpr uint8_t kDup = 0x08;

class ClientFakeBrokerTest : public TClientFixture {};

TEST_F(ClientFakeBrokerTest, ConnectSendsSettingsAndConnAckConnects) {
  FClient->Credentials()->SetUsername("user");
  FClient->Credentials()->SetPassword("secret");
  FClient->KeepAliveSettings()->SetKeepAliveInterval(77);
  const TMqttFrame connect = ConnectAccepted(true);
  // 00 04 MQTT 04, flags: user + password + clean session, keep-alive 77.
  ASSERT_GE(connect.Body.size(), 10u);
  EXPECT_EQ(TByteVector(connect.Body.begin(), connect.Body.begin() + 7),
            Bytes({0, 4, 'M', 'Q', 'T', 'T', 4}));
  EXPECT_EQ(connect.Body[7], 0xC2);
  EXPECT_EQ(connect.Word(8), 77);
  const std::vector<std::pair<bool, TNeloMQTTConnectionStatus>> expected{{false, csConnecting},
                                                                         {true, csConnected}};
  EXPECT_EQ(FStatuses, expected);
  EXPECT_EQ(FClient->ConnectionStatus(), csConnected);
}

TEST_F(ClientFakeBrokerTest, ConnectFlagsAndPayloadFollowTheSettings) {
  // Length-prefixed texts, as in the CONNECT payload.
  auto texts = [](std::initializer_list<std::string> AValues) {
    TByteVector out;
    for (const std::string& v : AValues) {
      out.push_back(static_cast<uint8_t>(v.size() >> 8));
      out.push_back(static_cast<uint8_t>(v.size() & 0xFF));
      out.insert(out.end(), v.begin(), v.end());
    }
    return out;
  };
  struct TCase {
    const char* Name;
    bool Clean;
    std::string User, Password, WillTopic, WillMessage;
    TNeloMQTTQoS WillQos;
    bool WillRetain;
    uint8_t Flags;
    TByteVector Payload;
  };
  const TCase cases[] = {
      {"user and password", true, "u", "p", "", "", qosAtMostOnce, false, 0xC2, texts({"cid", "u", "p"})},
      {"no clean session", false, "", "", "", "", qosAtMostOnce, false, 0x00, texts({"cid"})},
      // A broker closes the connection on a password without user name.
      {"password alone", true, "", "p", "", "", qosAtMostOnce, false, 0x02, texts({"cid"})},
      // ... and on will QoS or retain without a will.
      {"will settings without topic", true, "", "", "", "bye", qosExactlyOnce, true, 0x02, texts({"cid"})},
      {"will", true, "u", "", "w", "bye", qosAtLeastOnce, true, 0xAE, texts({"cid", "w", "bye", "u"})},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TNeloMQTTClient client;
    client.SetBrokerHostName(FBroker.Host());
    client.SetBrokerPort(FBroker.Port());
    client.SetClientID("cid");
    client.Credentials()->SetUsername(c.User);
    client.Credentials()->SetPassword(c.Password);
    client.LastWillSettings()->SetTopic(c.WillTopic);
    client.LastWillSettings()->SetWillMessage(c.WillMessage);
    client.LastWillSettings()->SetQoS(c.WillQos);
    client.LastWillSettings()->SetRetain(c.WillRetain);
    client.Connect(c.Clean);
    auto conn = FBroker.Accept();
    ASSERT_TRUE(conn);
    auto connect = conn->ReadFrame();
    ASSERT_TRUE(connect);
    ASSERT_EQ(connect->Type(), mtCONNECT);
    ASSERT_GE(connect->Body.size(), 10u);
    EXPECT_EQ(connect->Body[7], c.Flags);
    EXPECT_EQ(connect->Word(8), 120);
    EXPECT_EQ(TByteVector(connect->Body.begin() + 10, connect->Body.end()), c.Payload);
  }
}

TEST_F(ClientFakeBrokerTest, ConnAckReturnCodesSetTheStatus) {
  struct TCase {
    uint8_t Code;
    TNeloMQTTConnectionStatus Status;
  };
  const TCase cases[] = {
      {1, csConnectionRejected_InvalidProtocolVersion}, {2, csConnectionRejected_InvalidIdentifier},
      {3, csConnectionRejected_ServerUnavailable},      {4, csConnectionRejected_InvalidCredentials},
      {5, csConnectionRejected_ClientNotAuthorized},    {9, csNotConnected}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Code));
    TNeloMQTTClient client;
    client.SetBrokerHostName(FBroker.Host());
    client.SetBrokerPort(FBroker.Port());
    std::vector<std::pair<bool, TNeloMQTTConnectionStatus>> statuses;
    client.OnConnectedStatusChanged = [&](TNeloObject*, bool AConnected, TNeloMQTTConnectionStatus AStatus) {
      statuses.emplace_back(AConnected, AStatus);
    };
    client.Connect(true);
    auto conn = FBroker.Accept();
    ASSERT_TRUE(conn);
    ASSERT_TRUE(conn->ReadFrame());
    conn->Send(MakeFrame(0x20, Bytes({0, c.Code})));
    ASSERT_TRUE(PumpUntil([&] { return statuses.size() >= 2; }));
    EXPECT_EQ(statuses.back(), std::make_pair(false, c.Status));
    EXPECT_FALSE(client.IsConnected());
    // A random 23-character id was made up for the empty ClientID.
    EXPECT_EQ(client.ClientID().size(), 23u);
  }
}

TEST_F(ClientFakeBrokerTest, WithheldPubAckGivesTenSendsTenSecondsApartThenGivesUp) {
  ConnectAccepted();
  FSent.clear();
  const uint16_t id = FClient->Publish("t/1", std::string("hello"), qosAtLeastOnce, true);
  std::vector<TMqttFrame> sends;
  auto first = ReadFrame();
  ASSERT_TRUE(first);
  sends.push_back(*first);
  for (int attempt = 1; attempt < 10; ++attempt) {
    // Half-way to the retry nothing is resent.
    FClock.Advance(5000);
    EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40))) << "resent early at attempt " << attempt;
    FClock.Advance(5000);
    auto frame = ReadFrame();
    ASSERT_TRUE(frame) << "attempt " << attempt;
    sends.push_back(*frame);
  }
  ASSERT_EQ(sends.size(), 10u);
  for (size_t i = 0; i < sends.size(); ++i) {
    EXPECT_EQ(sends[i].Type(), mtPUBLISH);
    EXPECT_EQ(sends[i].FirstByte & kDup, i == 0 ? 0 : kDup) << "send " << i;
    EXPECT_EQ(sends[i].Word(5), id);  // after the 2+3 bytes of the topic field
    EXPECT_EQ(sends[i].FirstByte & 0x01, 0x01) << "retain flag, send " << i;
  }
  // One OnPacketSent per write: a duplicate from the second on, and never
  // marked retained (the writer does not track the retain flag).
  ASSERT_TRUE(PumpUntil([this] { return FSent.size() >= 10; }));
  ASSERT_EQ(FSent.size(), 10u);
  for (size_t i = 0; i < FSent.size(); ++i) {
    EXPECT_EQ(FSent[i].PacketType, mtPUBLISH);
    EXPECT_EQ(FSent[i].PacketId, id);
    EXPECT_EQ(FSent[i].PacketQos, qosAtLeastOnce);
    EXPECT_EQ(FSent[i].IsDuplicate, i > 0) << "send " << i;
    EXPECT_FALSE(FSent[i].IsRetained);
  }
  const std::string failed =
      "OUT - Packet: " + std::to_string(id) + " Qos:1 - PACKET FAILED TO SEND ------------- ";
  FClock.Advance(10000);
  EXPECT_TRUE(WaitForLog(failed));
  FClock.Advance(10000);
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40)));
  EXPECT_EQ(FLog.Count(failed), 1u);
  for (int attempt = 0; attempt < 10; ++attempt)
    EXPECT_EQ(FLog.CountPrefix("OUT - Packet: " + std::to_string(id) +
                               " Qos:1 - SENDING - attempt: " + std::to_string(attempt)),
              1u);
  EXPECT_EQ(FClient->Session()->OutstandingPackets(), 0);
}

TEST_F(ClientFakeBrokerTest, PubAckReleasesThePacketAndDuplicateAcksLeaveNothingBehind) {
  ConnectAccepted();
  const uint16_t id = FClient->Publish("t/1", std::string("x"), qosAtLeastOnce, false);
  ASSERT_TRUE(ReadFrame());
  FConnection->Send(IdFrame(0x40, id));
  FConnection->Send(IdFrame(0x40, id));
  EXPECT_TRUE(WaitForLog("OUT - Packet: " + std::to_string(id) + " Qos:1 - ACKNOWLEDGED"));
  ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->OutstandingPackets() == 0; }));
  FClock.Advance(20000);
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40)));
  // The next QoS 1 publish is sent although its predecessor was acknowledged twice.
  const uint16_t next = FClient->Publish("t/1", std::string("y"), qosAtLeastOnce, false);
  auto frame = ReadFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Word(5), next);
}

TEST_F(ClientFakeBrokerTest, OutgoingQoS2RunsPubRecPubRelPubComp) {
  ConnectAccepted();
  const uint16_t id = FClient->Publish("q2", std::string("p"), qosExactlyOnce, false);
  auto publish = ReadFrame();
  ASSERT_TRUE(publish);
  EXPECT_EQ(publish->FirstByte, 0x34);
  FConnection->Send(IdFrame(0x50, id));
  auto pubrel = ReadFrame();
  ASSERT_TRUE(pubrel);
  EXPECT_EQ(pubrel->Raw, IdFrame(0x62, id));
  // PUBCOMP withheld: PUBREL is resent, unchanged (only PUBLISH carries DUP).
  FClock.Advance(10000);
  auto again = ReadFrame();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Raw, IdFrame(0x62, id));
  FConnection->Send(IdFrame(0x70, id));
  ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->OutstandingPackets() == 0; }));
  FClock.Advance(20000);
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40)));
}

TEST_F(ClientFakeBrokerTest, IncomingPublishesAreAcknowledgedAndDelivered) {
  ConnectAccepted();
  // QoS 0: no answer; QoS 1: PUBACK; QoS 2 twice: two PUBRECs, delivered
  // once (exactly once: the id is kept until its PUBREL); PUBREL: PUBCOMP.
  FConnection->Send(MakeFrame(0x30, PublishBody("a/0", 0, 0, Text("zero"))));
  FConnection->Send(MakeFrame(0x32, PublishBody("a/1", 12, 1, Text("one"))));
  FConnection->Send(MakeFrame(0x34, PublishBody("a/2", 7, 2, Text("two"))));
  FConnection->Send(MakeFrame(0x3C, PublishBody("a/2", 7, 2, Text("two"))));
  std::vector<TByteVector> answers;
  for (int i = 0; i < 3; ++i) {
    auto frame = ReadFrame();
    ASSERT_TRUE(frame) << i;
    answers.push_back(frame->Raw);
  }
  EXPECT_EQ(answers, (std::vector<TByteVector>{IdFrame(0x40, 12), IdFrame(0x50, 7), IdFrame(0x50, 7)}));
  FConnection->Send(IdFrame(0x62, 7));
  auto pubcomp = ReadFrame();
  ASSERT_TRUE(pubcomp);
  EXPECT_EQ(pubcomp->Raw, IdFrame(0x70, 7));
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() >= 3; }));
  // After the PUBREL the id is free: a new QoS 2 message with it is delivered.
  FConnection->Send(MakeFrame(0x34, PublishBody("a/2", 7, 2, Text("again"))));
  auto pubrec = ReadFrame();
  ASSERT_TRUE(pubrec);
  EXPECT_EQ(pubrec->Raw, IdFrame(0x50, 7));
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() >= 4; }));
  ASSERT_EQ(FPublishes.size(), 4u);
  EXPECT_EQ(FPublishes[0].Id, 0);
  EXPECT_EQ(FPublishes[0].Topic, "a/0");
  EXPECT_EQ(FPublishes[0].Payload, Text("zero"));
  EXPECT_EQ(FPublishes[1].Id, 12);
  EXPECT_EQ(FPublishes[1].Payload, Text("one"));
  EXPECT_EQ(FPublishes[2].Id, 7);
  EXPECT_EQ(FPublishes[2].Payload, Text("two"));
  EXPECT_EQ(FPublishes[3].Id, 7);
  EXPECT_EQ(FPublishes[3].Payload, Text("again"));
}

TEST_F(ClientFakeBrokerTest, FailingPublishHandlerStillAcknowledges) {
  ConnectAccepted();
  FClient->OnPublishReceived = [](TNeloObject*, uint16_t, const std::string&, const TNeloMQTTBytes&) {
    throw std::runtime_error("handler broke");
  };
  FConnection->Send(MakeFrame(0x32, PublishBody("a", 12, 1, Text("x"))));
  auto ack = ReadFrame();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->Raw, IdFrame(0x40, 12));
  EXPECT_TRUE(WaitForLog("Failed to process incoming publish packet"));
  ASSERT_TRUE(PumpUntil([this] {
    for (const auto& info : FReceived)
      if (info.PacketType == mtPUBLISH && info.PacketId == 12) return true;
    return false;
  }));
}

TEST_F(ClientFakeBrokerTest, SubAckCodesPairWithTopicsAndMissingCodesAreRefusals) {
  ConnectAccepted();
  struct TCase {
    TByteVector Codes;
    std::vector<TNeloMQTTSubscription> Expected;
  };
  const TCase cases[] = {
      {Bytes({0x01, 0x80}), {{"a", true, qosAtLeastOnce}, {"b/#", false, qosAtMostOnce}}},
      {Bytes({0x02}), {{"a", true, qosExactlyOnce}, {"b/#", false, qosAtMostOnce}}},
  };
  for (const TCase& c : cases) {
    std::vector<TNeloMQTTSubscriptions> acks;
    FClient->OnSubscriptionAcknowledged = [&](TNeloObject*, uint16_t, const TNeloMQTTSubscriptions& ASubs) {
      acks.push_back(ASubs);
    };
    const uint16_t id =
        FClient->Subscribe(TNeloStringArray{"a", "b/#"}, TNeloQosArray{qosAtLeastOnce, qosExactlyOnce});
    auto subscribe = ReadFrame();
    ASSERT_TRUE(subscribe);
    EXPECT_EQ(subscribe->FirstByte, 0x82);
    EXPECT_EQ(subscribe->Word(0), id);
    TByteVector body = Bytes({id >> 8, id & 0xFF});
    body.insert(body.end(), c.Codes.begin(), c.Codes.end());
    FConnection->Send(MakeFrame(0x90, body));
    ASSERT_TRUE(PumpUntil([&] { return acks.size() == 1; }));
    ASSERT_EQ(acks[0].size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(acks[0][i].Topic, c.Expected[i].Topic);
      EXPECT_EQ(acks[0][i].Accepted, c.Expected[i].Accepted);
      EXPECT_EQ(acks[0][i].MaxQoS, c.Expected[i].MaxQoS);
    }
    // The same SUBACK again finds no request: no second event.
    FConnection->Send(MakeFrame(0x90, body));
    Pump(std::chrono::milliseconds(40));
    EXPECT_EQ(acks.size(), 1u);
    FClient->OnSubscriptionAcknowledged = nullptr;
  }
}

TEST_F(ClientFakeBrokerTest, UnsubscribeIsAcknowledgedWithoutSubscriptionEvent) {
  ConnectAccepted();
  bool subscriptionEvent = false;
  FClient->OnSubscriptionAcknowledged = [&](TNeloObject*, uint16_t, const TNeloMQTTSubscriptions&) {
    subscriptionEvent = true;
  };
  const uint16_t id = FClient->Unsubscribe("a/#");
  EXPECT_NE(id, 0);
  auto frame = ReadFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Raw, MakeFrame(0xA2, Bytes({id >> 8, id & 0xFF, 0, 3, 'a', '/', '#'})));
  FConnection->Send(IdFrame(0xB0, id));
  ASSERT_TRUE(PumpUntil([&] { return !FReceived.empty() && FReceived.back().PacketType == mtUNSUBACK; }));
  EXPECT_EQ(FReceived.back().PacketId, id);
  EXPECT_FALSE(subscriptionEvent);
  ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->OutstandingPackets() == 0; }));
  FClient->OnSubscriptionAcknowledged = nullptr;
}

TEST_F(ClientFakeBrokerTest, RemainingLengthBoundariesAreReadWhole) {
  ConnectAccepted();
  // Bodies of 127 and 128 bytes: one and two remaining-length bytes.
  for (size_t bodySize : {127u, 128u, 16384u}) {
    const size_t payloadSize = bodySize - 3;  // topic field "t" is 3 bytes
    TByteVector payload(payloadSize, 'z');
    const TByteVector frame = MakeFrame(0x30, PublishBody("t", 0, 0, payload));
    ASSERT_EQ(frame.size(), 1 + (bodySize < 128 ? 1 : bodySize < 16384 ? 2 : 3) + bodySize);
    FPublishes.clear();
    FConnection->Send(frame);
    ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() == 1; })) << bodySize;
    EXPECT_EQ(FPublishes[0].Payload.size(), payloadSize);
  }
}

TEST_F(ClientFakeBrokerTest, PacketsAClientMustNotReceiveAreLoggedAndIgnored) {
  ConnectAccepted();
  FConnection->Send(MakeFrame(0xE0));
  EXPECT_TRUE(WaitForLog("Received Packet with invalid Packet Type - mtDISCONNECT"));
  FConnection->Send(MakeFrame(0x82, Bytes({0, 1, 0, 1, 'a', 0})));
  EXPECT_TRUE(WaitForLog("Received Packet with invalid Packet Type - mtSUBSCRIBE"));
  ASSERT_TRUE(PumpUntil([this] { return FReceived.size() >= 3; }));  // CONNACK, DISCONNECT, SUBSCRIBE
  EXPECT_EQ(FReceived[1].PacketType, mtDISCONNECT);
  EXPECT_EQ(FClient->ConnectionStatus(), csConnected);
}

TEST_F(ClientFakeBrokerTest, PingsOnAnIdleLinkOnlyWhenKeptAlive) {
  FClient->KeepAliveSettings()->SetKeepAliveInterval(5);
  ConnectAccepted();
  // Received traffic does not count as activity: interval + 1 s after the
  // last write a PINGREQ goes out; the PINGRESP is reported.
  FClock.Advance(3000);
  FConnection->Send(MakeFrame(0x30, PublishBody("in", 0, 0, Text("x"))));
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() == 1; }));
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40)));
  FClock.Advance(3000);
  auto ping = ReadFrame();
  ASSERT_TRUE(ping);
  EXPECT_EQ(ping->Raw, Bytes({0xC0, 0x00}));
  FConnection->Send(Bytes({0xD0, 0x00}));
  ASSERT_TRUE(PumpUntil([this] { return FPingResponses == 1; }));
  // Any write postpones the next ping by the full interval.
  FClock.Advance(3000);
  FClient->Publish("t", std::string("x"), qosAtMostOnce, false);
  ASSERT_TRUE(ReadFrame());
  FClock.Advance(4000);
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40)));
  FClock.Advance(2000);
  auto second = ReadFrame();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Raw, Bytes({0xC0, 0x00}));
}

TEST_F(ClientFakeBrokerTest, NoPingsWhenKeepAliveIsOff) {
  FClient->KeepAliveSettings()->SetKeepAliveInterval(5);
  FClient->KeepAliveSettings()->SetKeepConnectionAlive(false);
  const TMqttFrame connect = ConnectAccepted();
  EXPECT_EQ(connect.Word(8), 5);  // still announced in the CONNECT
  FClock.Advance(60000);
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(60)));
}

TEST_F(ClientFakeBrokerTest, DisconnectSendsDisconnectAndRaisesBothStatusChanges) {
  ConnectAccepted();
  FStatuses.clear();
  FSent.clear();
  FClient->Disconnect();
  // Written directly, on this thread, before Disconnect returned.
  ASSERT_FALSE(FSent.empty());
  EXPECT_EQ(FSent.front().PacketType, mtDISCONNECT);
  const std::vector<std::pair<bool, TNeloMQTTConnectionStatus>> expected{{false, csConnectionLost},
                                                                         {false, csNotConnected}};
  EXPECT_EQ(FStatuses, expected);
  auto frame = FConnection->ReadFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Raw, Bytes({0xE0, 0x00}));
  EXPECT_TRUE(FConnection->WaitForPeerClose());
  // Not connected any more: a second Disconnect does nothing, Publish refuses.
  FClient->Disconnect();
  EXPECT_EQ(FStatuses.size(), 2u);
  EXPECT_THROW(FClient->Publish("t", std::string("x"), qosAtLeastOnce, false), ENeloMQTTAssertionFailed);
}

TEST_F(ClientFakeBrokerTest, ResetMidFrameIsReportedAsLostConnection) {
  ConnectAccepted();
  FConnection->Send(Bytes({0x30, 0x0A, 0x00, 0x03, 't'}));  // a PUBLISH cut short
  Pump(std::chrono::milliseconds(30));
  FConnection->Reset();
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
  EXPECT_EQ(FStatuses.back(), std::make_pair(false, csConnectionLost));
  EXPECT_FALSE(FClient->IsConnected());
  EXPECT_TRUE(FPublishes.empty());
}

TEST_F(ClientFakeBrokerTest, MalformedRemainingLengthClosesTheConnection) {
  ConnectAccepted();
  FConnection->Send(Bytes({0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
  EXPECT_TRUE(WaitForLog("IN - Read exception"));
  EXPECT_TRUE(FConnection->WaitForPeerClose());
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
}

TEST_F(ClientFakeBrokerTest, SilenceInsideAFrameClosesTheConnection) {
  ConnectAccepted();
  // Length 10 announced, 3 bytes sent, then nothing: the read times out.
  FConnection->Send(Bytes({0x30, 0x0A, 0x00, 0x03, 't'}));
  EXPECT_TRUE(FConnection->WaitForPeerClose(std::chrono::milliseconds(20000)));
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
  EXPECT_GE(FLog.Count("IN - Read exception"), 1u);
}

TEST_F(ClientFakeBrokerTest, PeerThatNeverAnswersLeavesTheClientConnecting) {
  FClient->Connect(true);
  FConnection = FBroker.Accept();
  ASSERT_TRUE(FConnection);
  ASSERT_TRUE(ReadFrame());  // the CONNECT, never answered
  Pump(std::chrono::milliseconds(50));
  EXPECT_EQ(FClient->ConnectionStatus(), csConnecting);
  EXPECT_FALSE(FClient->IsConnected());
  try {
    FClient->Publish("t", std::string("x"), qosAtLeastOnce, false);
    FAIL() << "Publish while connecting";
  } catch (const ENeloMQTTAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "This action requires a connected state");
    EXPECT_NE(std::string(e.what()).find("mqtt/engine/Nelo.MQTT.Client.cpp, line "), std::string::npos);
  }
}

TEST_F(ClientFakeBrokerTest, ConnectIsTheFirstPacketAfterAReconnect) {
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(1);
  ConnectAccepted();
  const uint16_t id = FClient->Publish("t", std::string("keep"), qosAtLeastOnce, false);
  ASSERT_TRUE(ReadFrame());
  FConnection->CloseOrderly();
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
  // While down: the due resend waits for the new connection.
  FClock.Advance(11000);  // the resend is due and a reconnect is requested
  ASSERT_TRUE(PumpUntil([this] { return FClient->Session()->HasActiveNetworkConnection(); }));
  auto conn = FBroker.Accept();
  ASSERT_TRUE(conn);
  FConnection = std::move(conn);
  auto first = ReadFrame();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Type(), mtCONNECT);
  EXPECT_NE(first->Body[7] & 0x02, 0);  // a reconnect keeps the operator's clean session
  EXPECT_EQ(FClient->ConnectionStatus(), csReconnecting);
  FConnection->Send(MakeFrame(0x20, Bytes({0, 0})));
  ASSERT_TRUE(PumpUntil([this] { return FClient->IsConnected(); }));
  auto after = ReadFrame();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->Type(), mtPUBLISH);
  EXPECT_NE(after->FirstByte & kDup, 0);
  EXPECT_EQ(after->Word(3), id);
}

TEST_F(ClientFakeBrokerTest, ConnectWhileConnectedChangesNothingAndTheMadeUpIdIsKept) {
  FClient->SetClientID("");
  const TMqttFrame connect = ConnectAccepted();
  const std::string id = FClient->ClientID();
  ASSERT_EQ(id.size(), 23u);
  // Payload: the client id as a length-prefixed string right after the
  // 10-byte variable header.
  ASSERT_GE(connect.Body.size(), 12u + id.size());
  EXPECT_EQ(connect.Word(10), id.size());
  EXPECT_EQ(std::string(connect.Body.begin() + 12, connect.Body.begin() + 12 + id.size()), id);
  const auto statuses = FStatuses;
  FClient->Connect(true);
  EXPECT_FALSE(FBroker.Accept(std::chrono::milliseconds(100)));
  EXPECT_TRUE(NoFrameFor(std::chrono::milliseconds(40)));
  EXPECT_EQ(FStatuses, statuses);
  EXPECT_TRUE(FClient->IsConnected());
  // After a disconnect the next connect announces the same id.
  FClient->Disconnect();
  FClient->Connect(true);
  auto conn = FBroker.Accept();
  ASSERT_TRUE(conn);
  FConnection = std::move(conn);
  auto again = ReadFrame();
  ASSERT_TRUE(again);
  ASSERT_EQ(again->Type(), mtCONNECT);
  EXPECT_EQ(again->Body, connect.Body);
}

TEST_F(ClientFakeBrokerTest, ALossSeenFirstByTheKeepAliveIsReportedBeforeTheReconnect) {
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(0);
  ConnectAccepted();
  FStatuses.clear();
  // The state between the transport finding the loss and its notice reaching
  // the main thread: the flag is down, the status still says connected.
  FClient->Session()->SetHasActiveNetworkConnection(false);
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csReconnecting; }));
  auto conn = FBroker.Accept();
  ASSERT_TRUE(conn);
  EXPECT_TRUE(FConnection->WaitForPeerClose());
  FConnection = std::move(conn);
  auto connect = ReadFrame();
  ASSERT_TRUE(connect);
  EXPECT_EQ(connect->Type(), mtCONNECT);
  FConnection->Send(MakeFrame(0x20, Bytes({0, 0})));
  ASSERT_TRUE(PumpUntil([this] { return FClient->IsConnected(); }));
  const std::vector<std::pair<bool, TNeloMQTTConnectionStatus>> expected{
      {false, csConnectionLost}, {false, csReconnecting}, {true, csConnected}};
  EXPECT_EQ(FStatuses, expected);
}

TEST_F(ClientFakeBrokerTest, ARemovedLoggerIsNoLongerUsed) {
  ConnectAccepted();
  FClient->Notification(&FLog, opRemove);
  EXPECT_EQ(FClient->Logger(), nullptr);
  // A linked logger that is freed unlinks itself.
  {
    TRecordingLogger other;
    FClient->SetLogger(&other);
    EXPECT_EQ(FClient->Logger(), &other);
  }
  EXPECT_EQ(FClient->Logger(), nullptr);
  const std::size_t before = FLog.Count("CLIENT- Handeling Outgoing Packet --------------------------- ");
  FClient->Publish("t", std::string("x"), qosAtMostOnce, false);
  EXPECT_TRUE(ReadFrame());
  FClient->Disconnect();
  EXPECT_EQ(FClient->ConnectionStatus(), csNotConnected);
  EXPECT_EQ(FLog.Count("CLIENT- Handeling Outgoing Packet --------------------------- "), before);
  EXPECT_EQ(FLog.Count("CLIENT- Disconnecting --------------------------- "), 0u);
}

TEST_F(ClientFakeBrokerTest, DestroyedWhileTrafficFlowsItEndsWithoutDisconnect) {
  ConnectAccepted();
  for (uint16_t id = 1; id <= 300; ++id)
    FConnection->Send(MakeFrame(0x32, PublishBody("in", id, 1, Text("x"))));
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() >= 20; }));
  // The writer is sending PUBACKs (the destructor does not wait for writes,
  // so some must be out before it runs for the count below).
  ASSERT_TRUE(PumpUntil([this] {
    for (const TNeloMQTTPacketInfo& info : FSent)
      if (info.PacketType == mtPUBACK) return true;
    return false;
  }));
  // The reader is busy handing packets over and the writer sending PUBACKs:
  // the destructor must still end both and send nothing more.
  FClient.reset();
  std::size_t pubAcks = 0;
  while (auto frame = FConnection->ReadFrame()) {
    EXPECT_NE(frame->Type(), mtDISCONNECT);
    if (frame->Type() == mtPUBACK) ++pubAcks;
  }
  EXPECT_TRUE(FConnection->PeerClosed());
  EXPECT_GE(pubAcks, 1u);
  // What was delivered came once each, in order.
  for (std::size_t i = 0; i < FPublishes.size(); ++i) ASSERT_EQ(FPublishes[i].Id, i + 1);
}

TEST_F(ClientFakeBrokerTest, WriterSurvivesARefusedPacketAndAFailingHandler) {
  ConnectAccepted();
  int handlerCalls = 0;
  FClient->OnPacketSent = [&](TNeloObject*, const TNeloMQTTPacketInfo&) {
    ++handlerCalls;
    throw std::runtime_error("sent handler broke");
  };
  // A publish with the reserved QoS is refused; the packets behind it go out.
  EXPECT_EQ(FClient->Publish("z", std::string("0"), qosRESERVED, false), 0);
  FClient->Publish("a", std::string("1"), qosAtMostOnce, false);
  FClient->Publish("b", std::string("2"), qosAtMostOnce, false);
  auto one = ReadFrame();
  auto two = ReadFrame();
  ASSERT_TRUE(one);
  ASSERT_TRUE(two);
  EXPECT_EQ(one->Raw, MakeFrame(0x30, PublishBody("a", 0, 0, Text("1"))));
  EXPECT_EQ(two->Raw, MakeFrame(0x30, PublishBody("b", 0, 0, Text("2"))));
  EXPECT_TRUE(WaitForLog("Failed to handle outgoing packet"));
  ASSERT_TRUE(PumpUntil([&] { return handlerCalls == 2; }));
  EXPECT_TRUE(WaitForLog("OUT - Packet sent notification failed", 2));
  // Later passes go on.
  FClient->Publish("c", std::string("3"), qosAtMostOnce, false);
  EXPECT_TRUE(ReadFrame());
  // The handler refers to this test's locals: unhook it before they go.
  FClient->OnPacketSent = nullptr;
}

TEST_F(ClientFakeBrokerTest, PublishChecksAndPacketIds) {
  ConnectAccepted();
  EXPECT_EQ(FClient->Publish("t", std::string("x"), qosAtMostOnce, false), 0);
  const uint16_t first = FClient->Publish("t", std::string("x"), qosAtLeastOnce, false);
  EXPECT_EQ(first, 1);
  try {
    FClient->Publish("a/+", std::string("x"), qosAtLeastOnce, false);
    FAIL() << "wildcard topic name accepted";
  } catch (const ENeloMQTTAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "This is not a valid topic name");
  }
  // The refused publish used up id 2.
  EXPECT_EQ(FClient->Publish("t", std::string("x"), qosAtLeastOnce, false), 3);
  EXPECT_THROW(FClient->Subscribe("a#", qosAtMostOnce), ENeloMQTTAssertionFailed);
  EXPECT_THROW(FClient->Unsubscribe(""), ENeloMQTTAssertionFailed);
  // UTF-8 payload: three bytes per Chinese character, no byte-order mark.
  FClient->Publish("t", std::string("中文"), qosAtMostOnce, false);
  std::optional<TMqttFrame> frame;
  for (int i = 0; i < 4 && (frame = ReadFrame()); ++i)
    if (frame->Type() == mtPUBLISH && frame->Flags() == 0 && frame->Body.size() == 3 + 6) break;
  ASSERT_TRUE(frame);
  EXPECT_EQ(TByteVector(frame->Body.begin() + 3, frame->Body.end()),
            Bytes({0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87}));
}

TEST(ClientWithoutBrokerTest, PreconditionsAndUnreachableBroker) {
  NeloSetMainThread();
  TRecordingLogger log;
  TNeloMQTTClient client;
  client.SetLogger(&log);
  EXPECT_EQ(client.Version(), "1.1.0.2");
  client.SetVersion("9.9");
  EXPECT_EQ(client.Version(), "1.1.0.2");
  try {
    client.Connect(true);
    FAIL() << "Connect without host";
  } catch (const ENeloMQTTAssertionFailed& e) {
    EXPECT_EQ(e.Text(), "Please provide the hostname of the broker");
  }
  EXPECT_EQ(client.ConnectionStatus(), csNotConnected);
  EXPECT_THROW(client.Publish("t", std::string("x"), qosAtLeastOnce, false), ENeloMQTTAssertionFailed);
  // Nothing listens on a freshly closed listener's port.
  int port;
  {
    TFakeBroker closed;
    port = closed.Port();
  }
  client.KeepAliveSettings()->SetAutoReconnect(true);
  client.KeepAliveSettings()->SetAutoReconnectInterval(0);
  client.SetBrokerHostName("127.0.0.1");
  client.SetBrokerPort(port);
  client.Connect(true);
  EXPECT_EQ(client.ConnectionStatus(), csConnectionRejected_ServerUnavailable);
  EXPECT_EQ(log.Count("Failed to connect"), 1u);
  // Auto-reconnect is armed only by a successful open: no attempts follow.
  Pump(std::chrono::milliseconds(60));
  EXPECT_EQ(log.Count("KEEP ALIVE - No Connection. Requesting Reconnect."), 0u);
}

}  // namespace
