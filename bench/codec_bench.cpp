// Codec throughput: PUBLISH serialise / parse / round trip with a 100-byte
// and a 64 KiB payload, a SUBACK with 8 codes, CreateFrom over a mixed frame
// stream, and memcpy of the same sizes as the physical floor. Items are
// packets, bytes are wire bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <utility>
#include <vector>

#include "Nelo.MQTT.PacketFactory.h"
#include "Nelo.MQTT.Packets.CONNACK.h"
#include "Nelo.MQTT.Packets.PINGRESP.h"
#include "Nelo.MQTT.Packets.PUBACK.h"
#include "Nelo.MQTT.Packets.PUBCOMP.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.PUBREC.h"
#include "Nelo.MQTT.Packets.PUBREL.h"
#include "Nelo.MQTT.Packets.SUBACK.h"
#include "Nelo.MQTT.Packets.UNSUBACK.h"

namespace {

const std::string kTopic = "printers/TSV-0001/task";

TNeloMQTTBytes PublishWire(size_t APayload) {
  return TNeloMQTTPublishPacket(42, kTopic, TNeloMQTTBytes(APayload, 0x5A), qosAtLeastOnce, false).GetBytes();
}

// First byte and remaining bytes of a serialised packet.
std::pair<uint8_t, TNeloMQTTBytes> Split(const TNeloMQTTBytes& AWire) {
  size_t field = 1;
  while (AWire[field] & 0x80) ++field;
  return {AWire[0], TNeloMQTTBytes(AWire.begin() + 1 + static_cast<std::ptrdiff_t>(field), AWire.end())};
}

void Count(benchmark::State& AState, size_t ABytesPerItem) {
  AState.SetItemsProcessed(AState.iterations());
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(ABytesPerItem));
}

// The floor: copying the wire bytes of the same PUBLISH into a ready buffer.
void BM_Memcpy(benchmark::State& AState) {
  const TNeloMQTTBytes source = PublishWire(static_cast<size_t>(AState.range(0)));
  TNeloMQTTBytes target(source.size());
  for (auto _ : AState) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  Count(AState, source.size());
}
BENCHMARK(BM_Memcpy)->Arg(100)->Arg(65536);

// Copying the same bytes into a new byte array (allocation + memcpy).
void BM_CopyToNewArray(benchmark::State& AState) {
  const TNeloMQTTBytes source = PublishWire(static_cast<size_t>(AState.range(0)));
  for (auto _ : AState) {
    TNeloMQTTBytes copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
  Count(AState, source.size());
}
BENCHMARK(BM_CopyToNewArray)->Arg(100)->Arg(65536);

// What the client does per message: build the packet from its fields, take its bytes.
void BM_PublishSerialise(benchmark::State& AState) {
  const TNeloMQTTBytes payload(static_cast<size_t>(AState.range(0)), 0x5A);
  size_t size = 0;
  for (auto _ : AState) {
    const TNeloMQTTPublishPacket packet(42, kTopic, payload, qosAtLeastOnce, false);
    const TNeloMQTTBytes wire = packet.GetBytes();
    size = wire.size();
    benchmark::DoNotOptimize(wire.data());
  }
  Count(AState, size);
}
BENCHMARK(BM_PublishSerialise)->Arg(100)->Arg(65536);

// What the client does per received frame: hand the remaining bytes to the factory.
void BM_PublishParse(benchmark::State& AState) {
  const TNeloMQTTBytes wire = PublishWire(static_cast<size_t>(AState.range(0)));
  const auto [first, remaining] = Split(wire);
  for (auto _ : AState) {
    const auto packet = TNeloMQTTPacketFactory::CreateFrom(first, remaining);
    benchmark::DoNotOptimize(packet.get());
  }
  Count(AState, wire.size());
}
BENCHMARK(BM_PublishParse)->Arg(100)->Arg(65536);

void BM_PublishRoundTrip(benchmark::State& AState) {
  const TNeloMQTTBytes payload(static_cast<size_t>(AState.range(0)), 0x5A);
  size_t size = 0;
  for (auto _ : AState) {
    const TNeloMQTTPublishPacket packet(42, kTopic, payload, qosAtLeastOnce, false);
    const TNeloMQTTBytes wire = packet.GetBytes();
    size = wire.size();
    auto [first, remaining] = Split(wire);
    const auto back = TNeloMQTTPacketFactory::CreateFrom(first, std::move(remaining));
    benchmark::DoNotOptimize(back.get());
  }
  Count(AState, size);
}
BENCHMARK(BM_PublishRoundTrip)->Arg(100)->Arg(65536);

TNeloMQTTBytes SubAckBody() {
  TNeloMQTTBytes body = {0x00, 0x07};
  for (uint8_t code : {0x00, 0x01, 0x02, 0x80, 0x00, 0x01, 0x02, 0x80}) body.push_back(code);
  return body;
}

void BM_SubAckSerialise(benchmark::State& AState) {
  size_t size = 0;
  for (auto _ : AState) {
    TNeloMQTTSubAckReturnCodes codes;
    codes.reserve(8);
    for (int i = 0; i < 8; ++i) codes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(i & 3));
    const TNeloMQTTSubAckPacket packet(7, std::move(codes));
    const TNeloMQTTBytes wire = packet.GetBytes();
    size = wire.size();
    benchmark::DoNotOptimize(wire.data());
  }
  Count(AState, size);
}
BENCHMARK(BM_SubAckSerialise);

void BM_SubAckParse(benchmark::State& AState) {
  const TNeloMQTTBytes body = SubAckBody();
  for (auto _ : AState) {
    const auto packet = TNeloMQTTPacketFactory::CreateFrom(0x90, body);
    benchmark::DoNotOptimize(packet.get());
  }
  Count(AState, body.size() + 2);
}
BENCHMARK(BM_SubAckParse);

// A stream like a broker's: acknowledgements of every flow, a SUBACK, a
// PINGRESP and publications of a few sizes.
void BM_CreateFromMixedStream(benchmark::State& AState) {
  std::vector<TNeloMQTTBytes> wires = {
      TNeloMQTTConnAckPacket(false, rcConAccepted).GetBytes(),
      TNeloMQTTPublishPacket(0, kTopic, TNeloMQTTBytes(20, 1), qosAtMostOnce, false).GetBytes(),
      TNeloMQTTPublishPacket(1, kTopic, TNeloMQTTBytes(300, 2), qosAtLeastOnce, false).GetBytes(),
      TNeloMQTTPublishPacket(2, kTopic, TNeloMQTTBytes(1500, 3), qosExactlyOnce, true).GetBytes(),
      TNeloMQTTPubAckPacket(1).GetBytes(),
      TNeloMQTTPubRecPacket(2).GetBytes(),
      TNeloMQTTPubRelPacket(2).GetBytes(),
      TNeloMQTTPubCompPacket(2).GetBytes(),
      TNeloMQTTUnsubAckPacket(3).GetBytes(),
      TNeloMQTTPingRespPacket().GetBytes(),
  };
  wires.push_back(TNeloMQTTBytes{0x90, 0x0A});
  for (uint8_t b : SubAckBody()) wires.back().push_back(b);
  std::vector<std::pair<uint8_t, TNeloMQTTBytes>> frames;
  size_t bytes = 0;
  for (const auto& w : wires) {
    frames.push_back(Split(w));
    bytes += w.size();
  }
  for (auto _ : AState) {
    for (const auto& [first, remaining] : frames) {
      const auto packet = TNeloMQTTPacketFactory::CreateFrom(first, remaining);
      benchmark::DoNotOptimize(packet.get());
    }
  }
  AState.SetItemsProcessed(AState.iterations() * static_cast<int64_t>(frames.size()));
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CreateFromMixedStream);

}  // namespace

BENCHMARK_MAIN();
