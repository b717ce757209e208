// A whole client, with its reader, writer and keep-alive threads, connected
// through the transport in memory to a "broker" that sends arbitrary bytes.
//
// Input: a mode byte, a cap byte, then the broker's bytes.
//   mode bit 0   the broker first accepts the connection (CONNACK 0) and the
//                client subscribes and publishes a QoS 1 and a QoS 2 message,
//                so the bytes that follow meet open exchanges;
//   mode bits 1+ the size of the pieces the bytes are fed in (0: at once).
//   cap          the largest incoming packet, 2^(8 + cap % 20) bytes.
// After the bytes the broker closes its side. The client must neither crash
// nor hang, must end up disconnected, and must not answer with more than it
// was sent (every answer of a client is at most as long as the frame that
// asked for it), nor deliver more messages than frames arrived.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Nelo.MQTT.Client.h"
#include "Nelo.MQTT.HandOff.h"
#include "Nelo.MQTT.MemoryTransport.h"

namespace {

void Check(bool ACondition) {
  if (!ACondition) __builtin_trap();
}

// Serves the client's hand-offs until ACondition holds; a client that does
// not get there within the bound is hung, which is a finding.
template <typename TCondition>
void PumpUntil(TCondition ACondition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ACondition()) {
    Check(std::chrono::steady_clock::now() < deadline);
    NeloCheckSynchronize(1);
  }
}

// What the client sends beside its answers: CONNECT, SUBSCRIBE, two
// PUBLISHes, a PINGREQ and a DISCONNECT, with room to spare.
constexpr std::size_t kOwnPackets = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 2) return 0;
  static const bool mainThreadSet = [] {
    NeloSetMainThread();
    return true;
  }();
  (void)mainThreadSet;
  const bool acceptFirst = (AData[0] & 1) != 0;
  const std::size_t piece = AData[0] >> 1;
  const uint32_t cap = 1u << (8 + AData[1] % 20);
  AData += 2;
  ASize -= 2;

  auto owned = std::make_unique<TNeloMQTTMemoryTransport>();
  TNeloMQTTMemoryTransport* transport = owned.get();
  std::size_t delivered = 0;
  std::size_t written = 0;
  {
    TNeloMQTTClient client(nullptr, std::move(owned));
    client.SetBrokerHostName("fuzz");
    client.SetClientID("fuzz");
    client.SetMaxIncomingPacketSize(cap);
    client.OnPublishReceived = [&](TNeloObject*, uint16_t, const std::string&, const TNeloMQTTBytes&) {
      ++delivered;
    };
    client.Connect(true);
    Check(transport->IsReady());
    if (acceptFirst) {
      const uint8_t connack[] = {0x20, 0x02, 0x00, 0x00};
      transport->Feed(connack, sizeof connack);
      PumpUntil([&] { return client.IsConnected(); });
      client.Subscribe("fuzz/#", qosExactlyOnce);
      client.Publish("fuzz/one", "1", qosAtLeastOnce, false);
      client.Publish("fuzz/two", "2", qosExactlyOnce, false);
    }
    for (std::size_t at = 0; at < ASize;) {
      const std::size_t take = piece == 0 || ASize - at < piece ? ASize - at : piece;
      transport->Feed(AData + at, take);
      at += take;
      NeloCheckSynchronize(0);
    }
    transport->ClosePeer();
    PumpUntil([&] {
      written += transport->TakeWritten().size();
      return !transport->IsReady();
    });
    written += transport->TakeWritten().size();
    // The notice of the loss reaches the client: it ends up disconnected.
    PumpUntil([&] { return !client.IsConnected(); });
    client.Disconnect();
  }
  Check(written <= ASize + kOwnPackets);
  Check(delivered <= ASize / 2);
  return 0;
}
