// The protocol core against the seed's client, in one run: a burst of 100
// QoS 1 PUBLISHes (100-byte payloads) from the broker, each answered with a
// PUBACK and delivered. The core is fed with plain calls (whole, and in
// 7-byte pieces); the client takes the same bytes through the in-memory
// transport, with its reader and writer threads and the hand-off. Items are
// messages. Also: heap the core holds for an idle connected session.
#include <benchmark/benchmark.h>

#include <memory>

#include "Nelo.MQTT.Client.h"
#include "Nelo.MQTT.Core.h"
#include "Nelo.MQTT.HandOff.h"
#include "Nelo.MQTT.MemoryTransport.h"

namespace {

constexpr int kBurst = 100;

TNeloMQTTBytes Burst() {
  TNeloMQTTBytes stream;
  const std::string topic = "printers/TSV-0001/task";
  for (int i = 1; i <= kBurst; ++i) {
    const std::size_t length = 2 + topic.size() + 2 + 100;
    stream.push_back(0x32);
    stream.push_back(static_cast<uint8_t>(length));
    stream.push_back(0x00);
    stream.push_back(static_cast<uint8_t>(topic.size()));
    stream.insert(stream.end(), topic.begin(), topic.end());
    stream.push_back(static_cast<uint8_t>(i >> 8));
    stream.push_back(static_cast<uint8_t>(i & 0xFF));
    stream.insert(stream.end(), 100, 0x5A);
  }
  return stream;
}

struct TCountingSink : TNeloMQTTCoreSink {
  std::size_t Written = 0;
  std::size_t Delivered = 0;
  void CoreWrite(const uint8_t*, std::size_t ASize) override { Written += ASize; }
  void CoreClose(TNeloMQTTCoreCloseReason) override {}
  void CoreDeliver(TNeloMQTTMessage&) override { ++Delivered; }
};

void Connected(TNeloMQTTCore& ACore) {
  TNeloMQTTCoreOptions options;
  options.ClientId = "bench";
  ACore.Connect(options, 0);
  const uint8_t connack[] = {0x20, 0x02, 0x00, 0x00};
  ACore.Received(connack, sizeof connack, 0);
}

void BM_CoreReceiveQoS1(benchmark::State& AState) {
  const std::size_t piece = static_cast<std::size_t>(AState.range(0));
  const TNeloMQTTBytes stream = Burst();
  TCountingSink sink;
  TNeloMQTTCore core(sink);
  Connected(core);
  int64_t now = 0;
  for (auto _ : AState) {
    for (std::size_t at = 0; at < stream.size(); at += piece)
      core.Received(stream.data() + at, std::min(piece, stream.size() - at), ++now);
  }
  if (sink.Delivered != static_cast<std::size_t>(AState.iterations()) * kBurst) AState.SkipWithError("lost");
  AState.SetItemsProcessed(AState.iterations() * kBurst);
}
BENCHMARK(BM_CoreReceiveQoS1)->Arg(1 << 20)->Arg(7);

void BM_SeedClientReceiveQoS1(benchmark::State& AState) {
  NeloSetMainThread();
  auto owned = std::make_unique<TNeloMQTTMemoryTransport>();
  TNeloMQTTMemoryTransport* transport = owned.get();
  std::size_t delivered = 0;
  {
    TNeloMQTTClient client(nullptr, std::move(owned));
    client.SetBrokerHostName("bench");
    client.SetClientID("bench");
    client.SetPacketSentNotifications(false);
    client.OnPublishReceived = [&](TNeloObject*, uint16_t, const std::string&, const TNeloMQTTBytes&) {
      ++delivered;
    };
    client.Connect(true);
    const uint8_t connack[] = {0x20, 0x02, 0x00, 0x00};
    transport->Feed(connack, sizeof connack);
    while (!client.IsConnected()) NeloCheckSynchronize(1);
    const TNeloMQTTBytes stream = Burst();
    for (auto _ : AState) {
      const std::size_t target = delivered + kBurst;
      transport->Feed(stream);
      while (delivered < target) NeloCheckSynchronize(1);
      transport->TakeWritten();
    }
    transport->ClosePeer();
  }
  AState.SetItemsProcessed(AState.iterations() * kBurst);
}
BENCHMARK(BM_SeedClientReceiveQoS1)->UseRealTime();

// Heap of an idle connected session with one kept subscription, after a
// burst of traffic (figure in the counter, in bytes).
void BM_CoreIdleSessionHeap(benchmark::State& AState) {
  const TNeloMQTTBytes stream = Burst();
  std::size_t heap = 0;
  for (auto _ : AState) {
    TCountingSink sink;
    TNeloMQTTCore core(sink);
    Connected(core);
    const uint16_t id = core.Subscribe({"printers/TSV-0001/task"}, {qosAtLeastOnce}, 0);
    const uint8_t suback[] = {0x90, 0x03, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0x01};
    core.Received(suback, sizeof suback, 0);
    for (std::size_t at = 0; at < stream.size(); at += 7)
      core.Received(stream.data() + at, std::min<std::size_t>(7, stream.size() - at), 0);
    heap = core.HeapBytes();
    benchmark::DoNotOptimize(heap);
  }
  AState.counters["heap_bytes"] = static_cast<double>(heap);
  AState.counters["object_bytes"] = static_cast<double>(sizeof(TNeloMQTTCore));
}
BENCHMARK(BM_CoreIdleSessionHeap);

}  // namespace

BENCHMARK_MAIN();
