// The client against a real mosquitto, with mosquitto_pub / mosquitto_sub as
// independent peers: QoS 0/1/2 both ways, UTF-8, a 1 MiB payload,
// credentials, TLS, the last will and auto-reconnect.
#include <gtest/gtest.h>

#include <functional>

#include "EngineTestSupport.h"
#include "MosquittoBroker.h"

using namespace tessiva::test;

namespace {

TBrokerOptions BrokerOptions() {
  TBrokerOptions options;
  options.Tls = true;
  return options;
}

class ClientBrokerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FBroker = new TMosquittoBroker(BrokerOptions()); }
  static void TearDownTestSuite() {
    delete FBroker;
    FBroker = nullptr;
  }

  void SetUp() override {
    NeloSetMainThread();
    FClient = MakeClient();
  }
  void TearDown() override {
    if (FClient && FClient->IsConnected()) FClient->Disconnect();
    FClient.reset();
  }

  std::unique_ptr<TNeloMQTTClient> MakeClient() {
    auto client = std::make_unique<TNeloMQTTClient>();
    client->SetLogger(&FLog);
    client->SetBrokerHostName("127.0.0.1");
    client->SetBrokerPort(FBroker->Port());
    client->OnPublishReceived = [this](TNeloObject*, uint16_t AId, const std::string& ATopic,
                                       const TNeloMQTTBytes& APayload) {
      FPublishes.push_back({AId, ATopic, APayload});
    };
    client->OnSubscriptionAcknowledged = [this](TNeloObject*, uint16_t, const TNeloMQTTSubscriptions& ASubs) {
      FSubAcks.push_back(ASubs);
    };
    return client;
  }

  void ConnectAndWait(TNeloMQTTClient& AClient) {
    AClient.Connect(true);
    ASSERT_TRUE(PumpUntil([&] { return AClient.ConnectionStatus() != csConnecting; }));
    ASSERT_EQ(AClient.ConnectionStatus(), csConnected) << FBroker->LogText();
  }

  void SubscribeAndWait(const std::string& AFilter, TNeloMQTTQoS AQos) {
    const size_t before = FSubAcks.size();
    FClient->Subscribe(AFilter, AQos);
    ASSERT_TRUE(PumpUntil([&] { return FSubAcks.size() > before; }));
    ASSERT_TRUE(FSubAcks.back().at(0).Accepted);
  }

  static TMosquittoBroker* FBroker;
  TRecordingLogger FLog{vINFO};
  std::unique_ptr<TNeloMQTTClient> FClient;
  std::vector<TReceivedPublish> FPublishes;
  std::vector<TNeloMQTTSubscriptions> FSubAcks;
  std::vector<TNeloMQTTConnectionStatus> FStatuses;
};

TMosquittoBroker* ClientBrokerTest::FBroker = nullptr;

TEST_F(ClientBrokerTest, EveryQoSBothWaysWithUtf8TopicsAndPayloads) {
  ConnectAndWait(*FClient);
  for (int qos = 0; qos <= 2; ++qos) {
    SCOPED_TRACE(qos);
    const TNeloMQTTQoS level = static_cast<TNeloMQTTQoS>(qos);
    const std::string topic = "测试/打印机/q" + std::to_string(qos);
    const std::string inbound = "收到 ünïcødé " + std::to_string(qos);
    const std::string outbound = "发出 😀 " + std::to_string(qos);

    // mosquitto_pub → us
    FPublishes.clear();
    SubscribeAndWait(topic, level);
    const TRunResult pub =
        MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", topic, "-q", std::to_string(qos), "-m", inbound}));
    ASSERT_EQ(pub.ExitCode, 0) << pub.Stderr;
    ASSERT_TRUE(PumpUntil([&] { return !FPublishes.empty(); }));
    EXPECT_EQ(FPublishes[0].Topic, topic);
    EXPECT_EQ(std::string(FPublishes[0].Payload.begin(), FPublishes[0].Payload.end()), inbound);
    EXPECT_EQ(FPublishes[0].Id != 0, qos > 0);

    // us → mosquitto_sub
    TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", topic, "-q", std::to_string(qos)}));
    FClient->Publish(topic, outbound, level, false);
    ASSERT_TRUE(PumpUntil([&] { return !sub.Messages().empty(); }));
    EXPECT_EQ(sub.Messages()[0].Topic, topic);
    EXPECT_EQ(sub.Messages()[0].Payload, outbound);
    // Our QoS 1/2 publication is completed (PUBACK, or PUBREC/PUBREL/PUBCOMP).
    EXPECT_TRUE(PumpUntil([&] { return FClient->Session()->OutstandingPackets() == 0; }));
    // Our own message comes back to us too (we are subscribed): it must be in
    // before the next round clears what was received.
    EXPECT_TRUE(PumpUntil([&] {
      for (const TReceivedPublish& p : FPublishes)
        if (std::string(p.Payload.begin(), p.Payload.end()) == outbound) return true;
      return false;
    }));
    FClient->Unsubscribe(topic);
  }
}

TEST_F(ClientBrokerTest, OneMebibytePayloadBothWays) {
  ConnectAndWait(*FClient);
  std::string payload(1 << 20, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  SubscribeAndWait("big/in", qosAtLeastOnce);
  TTempDir dir;
  const std::string file = dir.WriteFile("big.bin", payload);
  const TRunResult pub = MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "big/in", "-q", "1", "-f", file}));
  ASSERT_EQ(pub.ExitCode, 0) << pub.Stderr;
  ASSERT_TRUE(PumpUntil([&] { return !FPublishes.empty(); }));
  EXPECT_EQ(FPublishes[0].Payload.size(), payload.size());
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), FPublishes[0].Payload.begin()));

  TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", "big/out", "-q", "1"}));
  FClient->Publish("big/out", payload, qosAtLeastOnce, false);
  ASSERT_TRUE(PumpUntil([&] { return !sub.Messages().empty(); }));
  EXPECT_EQ(sub.Messages()[0].Payload.size(), payload.size());
  EXPECT_TRUE(sub.Messages()[0].Payload == payload);
}

TEST_F(ClientBrokerTest, LastWillIsPublishedWhenTheClientGoesAwayUncleanly) {
  TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", "will/engine", "-q", "1"}));
  auto doomed = MakeClient();
  doomed->LastWillSettings()->SetTopic("will/engine");
  doomed->LastWillSettings()->SetWillMessage("printer console gone");
  doomed->LastWillSettings()->SetQoS(qosAtLeastOnce);
  ConnectAndWait(*doomed);
  // Destruction sends no DISCONNECT: the broker sees the connection drop.
  doomed.reset();
  ASSERT_TRUE(sub.WaitForMessages(1, kWaitLong));
  EXPECT_EQ(sub.Messages()[0].Payload, "printer console gone");
  // A clean Disconnect does not trigger the will.
  auto polite = MakeClient();
  polite->LastWillSettings()->SetTopic("will/engine");
  polite->LastWillSettings()->SetWillMessage("should not appear");
  ConnectAndWait(*polite);
  polite->Disconnect();
  polite.reset();
  const TRunResult marker =
      MosquittoPub(Concat(FBroker->ClientArgs(), {"-t", "will/engine", "-m", "marker"}));
  ASSERT_EQ(marker.ExitCode, 0);
  ASSERT_TRUE(sub.WaitForMessages(2, kWaitLong));
  EXPECT_EQ(sub.Messages()[1].Payload, "marker");
}

TEST_F(ClientBrokerTest, ReconnectsAfterTheBrokerComesBack) {
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->KeepAliveSettings()->SetAutoReconnectInterval(1);
  std::vector<TNeloMQTTConnectionStatus>& statuses = FStatuses;
  FClient->OnConnectedStatusChanged = [this](TNeloObject*, bool, TNeloMQTTConnectionStatus AStatus) {
    FStatuses.push_back(AStatus);
  };
  ConnectAndWait(*FClient);
  FBroker->Stop();
  ASSERT_TRUE(PumpUntil([&] {
    return FClient->ConnectionStatus() == csConnectionLost || FClient->ConnectionStatus() == csReconnecting;
  }));
  // Attempts while the broker is down fail and are retried.
  ASSERT_TRUE(PumpUntil([&] { return FLog.Count("PING Failed") >= 1; }));
  FBroker->Start();
  ASSERT_TRUE(PumpUntil([&] { return FClient->IsConnected(); }, std::chrono::milliseconds(30000)));
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), csConnectionLost), statuses.end());
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), csReconnecting), statuses.end());
  // And the connection works.
  TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", "back/again"}));
  FClient->Publish("back/again", std::string("hello again"), qosAtLeastOnce, false);
  ASSERT_TRUE(PumpUntil([&] { return !sub.Messages().empty(); }));
  EXPECT_EQ(sub.Messages()[0].Payload, "hello again");
}

TEST_F(ClientBrokerTest, LeftoverPasswordOrWillSettingsDoNotBreakTheConnect) {
  // Settings that MQTT 3.1.1 allows only with a user name or a will topic;
  // the broker must still accept the CONNECT.
  struct TCase {
    const char* Name;
    std::function<void(TNeloMQTTClient&)> Set;
  };
  const TCase cases[] = {
      {"password without user name", [](TNeloMQTTClient& c) { c.Credentials()->SetPassword("stale"); }},
      {"will QoS and retain without topic",
       [](TNeloMQTTClient& c) {
         c.LastWillSettings()->SetQoS(qosExactlyOnce);
         c.LastWillSettings()->SetRetain(true);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto client = MakeClient();
    c.Set(*client);
    ConnectAndWait(*client);
    client->Disconnect();
  }
}

TEST_F(ClientBrokerTest, TlsConnectsOnlyToATrustedBroker) {
  struct TCase {
    std::string CAFile;
    bool Verify;
    TNeloMQTTConnectionStatus Expected;
  };
  const TTestCertificates& certs = FBroker->Certificates();
  const TCase cases[] = {{certs.CAFile(), true, csConnected},
                         {certs.OtherCAFile(), true, csConnectionRejected_ServerUnavailable},
                         {certs.OtherCAFile(), false, csConnected}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.CAFile + (c.Verify ? " verified" : " unverified"));
    auto client = MakeClient();
    client->SetBrokerHostName("localhost");
    client->SetBrokerPort(FBroker->TlsPort());
    client->SetUseSSL(true);
    client->Connection()->SSLIOHandler()->CAFile = c.CAFile;
    client->Connection()->SSLIOHandler()->VerifyPeer = c.Verify;
    client->Connect(true);
    ASSERT_TRUE(PumpUntil([&] { return client->ConnectionStatus() != csConnecting; }));
    EXPECT_EQ(client->ConnectionStatus(), c.Expected);
    if (c.Expected == csConnected) {
      TMosquittoSub sub(Concat(FBroker->ClientArgs(), {"-t", "tls/x"}));
      client->Publish("tls/x", std::string("over tls"), qosAtLeastOnce, false);
      ASSERT_TRUE(PumpUntil([&] { return !sub.Messages().empty(); }));
      EXPECT_EQ(sub.Messages()[0].Payload, "over tls");
      client->Disconnect();
    }
  }
}

TEST(ClientCredentialsTest, WrongPasswordIsRefusedRightOneAccepted) {
  NeloSetMainThread();
  TBrokerOptions options;
  options.Users = {{"alice", "s3cret"}};
  TMosquittoBroker broker(options);
  for (const auto& [password, accepted] : {std::pair<std::string, bool>{"wrong", false}, {"s3cret", true}}) {
    TNeloMQTTClient client;
    client.SetBrokerHostName("127.0.0.1");
    client.SetBrokerPort(broker.Port());
    client.Credentials()->SetUsername("alice");
    client.Credentials()->SetPassword(password);
    client.Connect(true);
    ASSERT_TRUE(PumpUntil([&] { return client.ConnectionStatus() != csConnecting; }));
    if (accepted) {
      EXPECT_EQ(client.ConnectionStatus(), csConnected);
      client.Disconnect();
    } else {
      // mosquitto answers a bad password with "not authorised" (5) or "bad credentials" (4).
      EXPECT_TRUE(client.ConnectionStatus() == csConnectionRejected_ClientNotAuthorized ||
                  client.ConnectionStatus() == csConnectionRejected_InvalidCredentials)
          << client.ConnectionStatus();
      EXPECT_FALSE(client.IsConnected());
    }
  }
}

}  // namespace

namespace {

// Every message of a long QoS 1 and QoS 2 run arrives, in order, through a
// broker with its default configuration (its in-flight limit of 20 included).
class ClientBrokerVolumeTest : public ::testing::TestWithParam<int> {};

TEST_P(ClientBrokerVolumeTest, TwoThousandMessagesAllArriveInOrder) {
  NeloSetMainThread();
  TMosquittoBroker broker{TBrokerOptions()};
  const TNeloMQTTQoS qos = static_cast<TNeloMQTTQoS>(GetParam());
  auto makeClient = [&] {
    auto client = std::make_unique<TNeloMQTTClient>();
    client->SetBrokerHostName("127.0.0.1");
    client->SetBrokerPort(broker.Port());
    return client;
  };
  auto subscriber = makeClient();
  auto publisher = makeClient();
  publisher->SetPacketSentNotifications(false);
  std::vector<std::string> received;
  subscriber->OnPublishReceived = [&](TNeloObject*, uint16_t, const std::string&,
                                      const TNeloMQTTBytes& APayload) {
    received.emplace_back(APayload.begin(), APayload.end());
  };
  bool subscribed = false;
  subscriber->OnSubscriptionAcknowledged = [&](TNeloObject*, uint16_t, const TNeloMQTTSubscriptions&) {
    subscribed = true;
  };
  for (TNeloMQTTClient* client : {subscriber.get(), publisher.get()}) {
    client->Connect(true);
    ASSERT_TRUE(PumpUntil([&] { return client->ConnectionStatus() != csConnecting; }));
    ASSERT_EQ(client->ConnectionStatus(), csConnected) << broker.LogText();
  }
  subscriber->Subscribe("volume", qos);
  ASSERT_TRUE(PumpUntil([&] { return subscribed; }));
  constexpr int kCount = 2000;
  // A default broker queues at most 1000 messages for one subscriber and
  // drops the rest (max_queued_messages; it logs that it did): the publisher
  // stays at most 100 messages ahead of what arrived, so a slow receiving side
  // (a loaded machine, a sanitizer build) cannot make the broker drop what
  // this test counts.
  constexpr std::size_t kAhead = 100;
  for (int i = 0; i < kCount; ++i) {
    if (static_cast<std::size_t>(i) >= received.size() + kAhead) {
      ASSERT_TRUE(PumpUntil([&] { return static_cast<std::size_t>(i) < received.size() + kAhead; },
                            std::chrono::milliseconds(60000)))
          << received.size() << " arrived of " << i << " sent";
    }
    publisher->Publish("volume", std::to_string(i), qos, false);
    if ((i & 63) == 0) NeloCheckSynchronize(0);
  }
  ASSERT_TRUE(PumpUntil([&] { return received.size() >= static_cast<std::size_t>(kCount); },
                        std::chrono::milliseconds(120000)))
      << received.size() << " of " << kCount << "; publisher outstanding "
      << publisher->Session()->OutstandingPackets() << " queued "
      << publisher->Session()->HasOutgoingPackets() << "; subscriber outstanding "
      << subscriber->Session()->OutstandingPackets() << " queued "
      << subscriber->Session()->HasOutgoingPackets() << "\nbroker: "
      << (broker.LogText().find("dropped") != std::string::npos ? "dropped messages" : "dropped nothing");
  Pump(std::chrono::milliseconds(200));
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(received[static_cast<std::size_t>(i)], std::to_string(i));
  EXPECT_TRUE(PumpUntil([&] { return publisher->Session()->OutstandingPackets() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(QoS, ClientBrokerVolumeTest, ::testing::Values(1, 2));

}  // namespace
