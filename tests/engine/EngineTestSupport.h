// Fixtures for the engine suites: a fake engine clock, a client whose events
// are recorded, and waits that keep serving the engine's hand-offs (the test
// thread is the engine's main thread).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeBroker.h"
#include "Nelo.MQTT.Client.Threading.h"
#include "Nelo.MQTT.Client.h"
#include "RecordingLogger.h"
#include "TestWait.h"

namespace tessiva::test {

// Engine time under the test's control. Installed for the life of the object.
class TFakeEngineClock {
 public:
  TFakeEngineClock() {
    Now().store(1'000'000'000);
    NeloSetClock([] { return Now().load(); });
  }
  ~TFakeEngineClock() { NeloSetClock(nullptr); }
  void Advance(int64_t AMs) { Now().fetch_add(AMs); }
  int64_t Value() const { return Now().load(); }

 private:
  static std::atomic<int64_t>& Now() {
    static std::atomic<int64_t> now{0};
    return now;
  }
};

// Serves hand-offs until ACondition holds or ATimeout passes.
inline bool PumpUntil(const std::function<bool()>& ACondition,
                      std::chrono::milliseconds ATimeout = kWaitLong) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    if (ACondition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return ACondition();
    NeloCheckSynchronize(2);
  }
}

inline void Pump(std::chrono::milliseconds AFor) {
  const auto deadline = std::chrono::steady_clock::now() + AFor;
  while (std::chrono::steady_clock::now() < deadline) NeloCheckSynchronize(2);
}

inline TByteVector Bytes(std::initializer_list<int> AValues) {
  TByteVector out;
  for (int v : AValues) out.push_back(static_cast<uint8_t>(v));
  return out;
}

inline TByteVector Text(const std::string& AText) { return TByteVector(AText.begin(), AText.end()); }

// Body of a PUBLISH: topic, id (QoS > 0) and payload.
inline TByteVector PublishBody(const std::string& ATopic, uint16_t AId, int AQos,
                               const TByteVector& APayload) {
  TByteVector body;
  body.reserve(4 + ATopic.size() + APayload.size());
  body.push_back(static_cast<uint8_t>(ATopic.size() >> 8));
  body.push_back(static_cast<uint8_t>(ATopic.size() & 0xFF));
  for (char c : ATopic) body.push_back(static_cast<uint8_t>(c));
  if (AQos > 0) {
    body.push_back(static_cast<uint8_t>(AId >> 8));
    body.push_back(static_cast<uint8_t>(AId & 0xFF));
  }
  for (uint8_t b : APayload) body.push_back(b);
  return body;
}

inline TByteVector IdFrame(uint8_t AFirstByte, uint16_t AId) {
  return MakeFrame(AFirstByte, Bytes({AId >> 8, AId & 0xFF}));
}

struct TReceivedPublish {
  uint16_t Id;
  std::string Topic;
  TNeloMQTTBytes Payload;
};

// A client wired to record its events, a recording logger, and helpers to
// talk to a scripted fake broker.
class TClientFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    NeloSetMainThread();
    FClient = std::make_unique<TNeloMQTTClient>();
    FClient->SetLogger(&FLog);
    FClient->SetBrokerHostName(FBroker.Host());
    FClient->SetBrokerPort(FBroker.Port());
    FClient->SetClientID("tessiva-test");
    FClient->OnConnectedStatusChanged = [this](TNeloObject*, bool AConnected,
                                               TNeloMQTTConnectionStatus AStatus) {
      FStatuses.emplace_back(AConnected, AStatus);
    };
    FClient->OnPacketSent = [this](TNeloObject*, const TNeloMQTTPacketInfo& AInfo) {
      FSent.push_back(AInfo);
    };
    FClient->OnPacketReceived = [this](TNeloObject*, const TNeloMQTTPacketInfo& AInfo) {
      FReceived.push_back(AInfo);
    };
    FClient->OnPublishReceived = [this](TNeloObject*, uint16_t AId, const std::string& ATopic,
                                        const TNeloMQTTBytes& APayload) {
      FPublishes.push_back({AId, ATopic, APayload});
    };
    FClient->OnPingResponse = [this](TNeloObject*) { ++FPingResponses; };
  }

  void TearDown() override {
    FClient.reset();
    FConnection.reset();
  }

  // The next frame from the client, serving hand-offs while waiting.
  std::optional<TMqttFrame> ReadFrame(std::chrono::milliseconds ATimeout = kWaitLong) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
      if (auto frame = FConnection->ReadFrame(std::chrono::milliseconds(2))) return frame;
      if (FConnection->PeerClosed() || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      NeloCheckSynchronize(1);
    }
  }

  // Waits, serving hand-offs, until AMessage was logged ACount times.
  bool WaitForLog(const std::string& AMessage, std::size_t ACount = 1) {
    return PumpUntil([&] { return FLog.Count(AMessage) >= ACount; });
  }

  // True when no frame arrives while the engine runs for AFor (the writer
  // makes several passes meanwhile).
  bool NoFrameFor(std::chrono::milliseconds AFor) { return !ReadFrame(AFor).has_value(); }

  // Connect, answer the CONNECT with CONNACK code 0, wait for csConnected.
  // Returns the CONNECT frame.
  TMqttFrame ConnectAccepted(bool AClean = true) {
    FClient->Connect(AClean);
    FConnection = FBroker.Accept();
    EXPECT_TRUE(FConnection);
    if (!FConnection) return {};
    auto connect = ReadFrame();
    EXPECT_TRUE(connect);
    if (!connect) return {};
    EXPECT_EQ(connect->Type(), mtCONNECT);
    FConnection->Send(MakeFrame(0x20, Bytes({0, 0})));
    EXPECT_TRUE(PumpUntil([this] { return FClient->IsConnected(); }));
    return *connect;
  }

  TFakeEngineClock FClock;
  TFakeBroker FBroker;
  TRecordingLogger FLog{vDEBUG};
  std::unique_ptr<TNeloMQTTClient> FClient;
  std::unique_ptr<TFakeConnection> FConnection;
  std::vector<std::pair<bool, TNeloMQTTConnectionStatus>> FStatuses;
  std::vector<TNeloMQTTPacketInfo> FSent;
  std::vector<TNeloMQTTPacketInfo> FReceived;
  std::vector<TReceivedPublish> FPublishes;
  int FPingResponses = 0;
};

}  // namespace tessiva::test
