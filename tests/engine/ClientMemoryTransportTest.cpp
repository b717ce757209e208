// A whole connected client driven from memory: its real reader, writer and
// keep-alive threads, a transport whose broker is the test. Bursts larger
// than the reader's batch, split anywhere (mid-frame included), must come
// out whole, in order and acknowledged once each.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "EngineTestSupport.h"
#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.MemoryTransport.h"

using namespace tessiva::test;

namespace {

class ClientMemoryTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NeloSetMainThread();
    auto transport = std::make_unique<TNeloMQTTMemoryTransport>();
    FTransport = transport.get();
    FClient = std::make_unique<TNeloMQTTClient>(nullptr, std::move(transport));
    FClient->SetLogger(&FLog);
    FClient->SetBrokerHostName("memory");
    FClient->SetClientID("tessiva-memory");
    FClient->OnConnectedStatusChanged = [this](TNeloObject*, bool, TNeloMQTTConnectionStatus AStatus) {
      FStatuses.push_back(AStatus);
    };
    FClient->OnPublishReceived = [this](TNeloObject*, uint16_t AId, const std::string& ATopic,
                                        const TNeloMQTTBytes& APayload) {
      FPublishes.push_back({AId, ATopic, APayload});
    };
  }

  void TearDown() override { FClient.reset(); }

  // Frames the client wrote, waiting (serving hand-offs) until ACount have come.
  std::vector<TMqttFrame> Frames(std::size_t ACount) {
    PumpUntil([&] {
      TByteVector more = FTransport->TakeWritten();
      FWritten.insert(FWritten.end(), more.begin(), more.end());
      while (auto frame = TakeFrame(FWritten)) FFrames.push_back(*frame);
      return FFrames.size() >= ACount;
    });
    std::vector<TMqttFrame> out;
    out.swap(FFrames);
    return out;
  }

  void ConnectAccepted() {
    FClient->Connect(true);
    const auto connect = Frames(1);
    ASSERT_EQ(connect.size(), 1u);
    ASSERT_EQ(connect[0].Type(), mtCONNECT);
    FTransport->Feed(MakeFrame(0x20, Bytes({0, 0})));
    ASSERT_TRUE(PumpUntil([this] { return FClient->IsConnected(); }));
  }

  // Feeds ABytes in pieces of random length (1 to AMaxPiece; 0: all at once).
  void FeedInPieces(const TByteVector& ABytes, std::size_t AMaxPiece, unsigned ASeed) {
    if (AMaxPiece == 0) {
      FTransport->Feed(ABytes);
      return;
    }
    std::mt19937 random(ASeed);
    std::uniform_int_distribution<std::size_t> length(1, AMaxPiece);
    for (std::size_t at = 0; at < ABytes.size();) {
      const std::size_t take = std::min(length(random), ABytes.size() - at);
      FTransport->Feed(ABytes.data() + at, take);
      at += take;
    }
  }

  TFakeEngineClock FClock;
  TRecordingLogger FLog{vINFO};
  TNeloMQTTMemoryTransport* FTransport = nullptr;
  std::unique_ptr<TNeloMQTTClient> FClient;
  std::vector<TNeloMQTTConnectionStatus> FStatuses;
  std::vector<TReceivedPublish> FPublishes;
  TByteVector FWritten;
  std::vector<TMqttFrame> FFrames;
};

TEST_F(ClientMemoryTransportTest, ASessionRunsFromConnectToThePeersClose) {
  ConnectAccepted();
  const uint16_t subscribeId = FClient->Subscribe("jobs/#", qosAtLeastOnce);
  auto frames = Frames(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].FirstByte, 0x82);
  EXPECT_EQ(frames[0].Word(0), subscribeId);

  TByteVector broker = MakeFrame(0x90, Bytes({subscribeId >> 8, subscribeId & 0xFF, 1}));
  const TByteVector publish = MakeFrame(0x32, PublishBody("jobs/a", 7, 1, Text("hello")));
  broker.insert(broker.end(), publish.begin(), publish.end());
  FTransport->Feed(broker);
  frames = Frames(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Raw, IdFrame(0x40, 7));
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() == 1; }));
  EXPECT_EQ(FPublishes[0].Topic, "jobs/a");
  EXPECT_EQ(std::string(FPublishes[0].Payload.begin(), FPublishes[0].Payload.end()), "hello");

  FTransport->ClosePeer();
  ASSERT_TRUE(PumpUntil([this] { return FClient->ConnectionStatus() == csConnectionLost; }));
  EXPECT_FALSE(FTransport->IsReady());
  EXPECT_EQ(FStatuses, (std::vector<TNeloMQTTConnectionStatus>{csConnecting, csConnected, csConnectionLost}));
}

struct TBurstCase {
  int Qos;
  std::size_t MaxPiece;  // 0: the whole burst in one piece
};

class ClientMemoryBurstTest : public ClientMemoryTransportTest,
                              public ::testing::WithParamInterface<TBurstCase> {};

TEST_P(ClientMemoryBurstTest, EveryMessageArrivesOnceInOrderAndIsAcknowledged) {
  const TBurstCase c = GetParam();
  constexpr int kCount = 2000;  // many times the reader's batch of frames
  ConnectAccepted();
  TByteVector burst;
  for (int i = 1; i <= kCount; ++i) {
    const TByteVector frame = MakeFrame(
        static_cast<uint8_t>(0x30 | (c.Qos << 1)),
        PublishBody("burst", static_cast<uint16_t>(i), c.Qos, Text("message " + std::to_string(i))));
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  FeedInPieces(burst, c.MaxPiece, 17);

  const auto acks = Frames(kCount);
  ASSERT_EQ(acks.size(), static_cast<std::size_t>(kCount));
  for (int i = 1; i <= kCount; ++i) {
    ASSERT_EQ(acks[i - 1].Raw, IdFrame(c.Qos == 1 ? 0x40 : 0x50, static_cast<uint16_t>(i))) << "ack " << i;
  }
  if (c.Qos == 2) {
    TByteVector releases;
    for (int i = 1; i <= kCount; ++i) {
      const TByteVector frame = IdFrame(0x62, static_cast<uint16_t>(i));
      releases.insert(releases.end(), frame.begin(), frame.end());
    }
    FeedInPieces(releases, c.MaxPiece, 29);
    const auto completes = Frames(kCount);
    ASSERT_EQ(completes.size(), static_cast<std::size_t>(kCount));
    for (int i = 1; i <= kCount; ++i)
      ASSERT_EQ(completes[i - 1].Raw, IdFrame(0x70, static_cast<uint16_t>(i))) << "complete " << i;
  }
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() >= static_cast<std::size_t>(kCount); }));
  Pump(std::chrono::milliseconds(50));
  ASSERT_EQ(FPublishes.size(), static_cast<std::size_t>(kCount));
  for (int i = 1; i <= kCount; ++i) {
    ASSERT_EQ(std::string(FPublishes[i - 1].Payload.begin(), FPublishes[i - 1].Payload.end()),
              "message " + std::to_string(i));
  }
  EXPECT_EQ(FTransport->Unread(), 0u);
  EXPECT_TRUE(FClient->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Bursts, ClientMemoryBurstTest,
                         ::testing::Values(TBurstCase{1, 0}, TBurstCase{1, 1}, TBurstCase{1, 700},
                                           TBurstCase{2, 0}, TBurstCase{2, 5}, TBurstCase{2, 700}),
                         [](const ::testing::TestParamInfo<TBurstCase>& AInfo) {
                           return "QoS" + std::to_string(AInfo.param.Qos) + "_Pieces" +
                                  (AInfo.param.MaxPiece == 0 ? std::string("Whole")
                                                             : "UpTo" + std::to_string(AInfo.param.MaxPiece));
                         });

// With sent-packet notifications on, the writer hands every send to the main
// thread, while the reader hands frames over 64 at a time: a flood of QoS 1
// messages would have the answers pile up faster than they go out (a broker
// holds every message it has no answer for, and drops new ones past its
// queue limit). The reader waits for the writer instead.
TEST_F(ClientMemoryTransportTest, AnswersDoNotPileUpWhileTheWriterLagsBehindTheReader) {
  constexpr int kCount = 3000;
  ConnectAccepted();
  TByteVector burst;
  for (int i = 1; i <= kCount; ++i) {
    const TByteVector frame =
        MakeFrame(0x32, PublishBody("flood", static_cast<uint16_t>(i), 1, Text(std::to_string(i))));
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  FTransport->Feed(burst);
  int mostQueued = 0;
  std::size_t acks = 0;
  const bool allAnswered = PumpUntil([&] {
    mostQueued = std::max(mostQueued, FClient->Session()->QueuedAnswers());
    acks += FTransport->TakeWritten().size() / 4;
    return acks >= static_cast<std::size_t>(kCount);
  });
  ASSERT_TRUE(allAnswered) << acks << " answers of " << kCount;
  EXPECT_LE(mostQueued, TNeloMQTTNeloMQTTClientSession::kAnswerBacklog + TNeloMQTTReaderThread::kBatchFrames);
  ASSERT_TRUE(PumpUntil([this] { return FPublishes.size() == static_cast<std::size_t>(kCount); }));
}

TEST_F(ClientMemoryTransportTest, ARefusedOpenEndsInServerUnavailableAndTheNextConnectOpensAgain) {
  FTransport->SetRefuseOpen(true);
  FClient->Connect(true);
  EXPECT_EQ(FClient->ConnectionStatus(), csConnectionRejected_ServerUnavailable);
  EXPECT_EQ(FTransport->OpenCount(), 0);
  FTransport->SetRefuseOpen(false);
  ConnectAccepted();
  EXPECT_EQ(FTransport->OpenCount(), 1);
}

}  // namespace
