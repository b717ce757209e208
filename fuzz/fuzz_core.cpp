// The protocol core fed arbitrary broker bytes, with plain calls: no
// threads, no transport, the time as a number.
//
// Input: a mode byte, a cap byte, then the broker's bytes.
//   mode bit 0   the broker first accepts the connection (CONNACK 0) and the
//                client subscribes and publishes a QoS 1 and a QoS 2 message,
//                so the bytes that follow meet open exchanges;
//   mode bit 1   flush tracking: the driver flushes half of what is pending
//                after each piece, and offers again what was not taken;
//   mode bits 2-3 both set: debug lines are built as well;
//   mode bits 4+ the size of the pieces the bytes are fed in (0: at once).
//   cap          bits 0-4: the largest incoming packet, 2^(4 + n % 20)
//                bytes; bits 5-7: seconds that pass after each piece (x3),
//                so resends, pings and time-outs come due.
// Invariants: every write is one whole packet; the state stays bounded; the
// answers (PUBACK, PUBREC, PUBREL, PUBCOMP) are no longer than the frames
// that asked for them; no more messages are delivered than frames arrived;
// once closed the session writes, delivers and acknowledges nothing and is
// not connected.
#include <cstddef>
#include <cstdint>

#include "Nelo.MQTT.Core.h"

namespace {

void Check(bool ACondition) {
  if (!ACondition) __builtin_trap();
}

bool IsOneWholeFrame(const uint8_t* AData, std::size_t ASize) {
  if (ASize < 2) return false;
  uint32_t length = 0;
  std::size_t i = 1;
  for (int shift = 0; i < ASize && shift < 28; shift += 7) {
    const uint8_t byte = AData[i++];
    length |= static_cast<uint32_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return i + length == ASize;
  }
  return false;
}

struct TSink : TNeloMQTTCoreSink {
  bool Closed = false;
  bool InReceived = false;
  std::size_t AnswerBytes = 0;
  std::size_t Written = 0;
  std::size_t Delivered = 0;

  void CoreWrite(const uint8_t* AData, std::size_t ASize) override {
    Check(!Closed);
    Check(IsOneWholeFrame(AData, ASize));
    Written += ASize;
    const uint8_t first = AData[0];
    if (InReceived && (first == 0x40 || first == 0x50 || first == 0x62 || first == 0x70))
      AnswerBytes += ASize;
  }
  void CoreClose(TNeloMQTTCoreCloseReason) override {
    Check(!Closed);
    Closed = true;
  }
  void CoreDeliver(TNeloMQTTMessage& AMessage) override {
    Check(!Closed);
    Check(!AMessage.Topic.empty());
    ++Delivered;
  }
  void CoreAcknowledged(const TNeloMQTTCoreAck&) override { Check(!Closed); }
  void CoreLog(TNeloMQTTLogLevel, const std::string& AText, const char*) override { Check(!AText.empty()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 2) return 0;
  const bool acceptFirst = (AData[0] & 1) != 0;
  const bool flushTracking = (AData[0] & 2) != 0;
  const bool debug = (AData[0] & 0x0C) == 0x0C;
  const std::size_t piece = AData[0] >> 4;
  const uint32_t cap = 1u << (4 + (AData[1] & 0x1F) % 20);
  const int64_t step = static_cast<int64_t>(AData[1] >> 5) * 3000;
  AData += 2;
  ASize -= 2;

  TSink sink;
  TNeloMQTTCore core(sink);
  core.SetMaxIncomingPacketSize(cap);
  core.SetFlushTracking(flushTracking);
  if (debug) core.SetLogVerbosity(vDEBUG);
  TNeloMQTTCoreOptions options;
  options.ClientId = "fuzz";
  options.KeepAliveInterval = 5;
  int64_t now = 1;
  core.Connect(options, now);
  // The answers of an accepted session resumed at once: its PUBRELs.
  std::size_t resumed = 4 * TNeloMQTTCore::kInFlightWindow;
  if (acceptFirst) {
    const uint8_t connack[] = {0x20, 0x02, 0x00, 0x00};
    core.Received(connack, sizeof connack, now);
    Check(core.IsConnected());
    static const TNeloStringArray kFilters = {"fuzz/#"};
    static const TNeloQosArray kLevels = {qosExactlyOnce};
    static const std::string kOne = "fuzz/one", kTwo = "fuzz/two";
    const uint8_t one = '1', two = '2';
    core.Subscribe(kFilters, kLevels, now);
    core.Publish(kOne, &one, 1, qosAtLeastOnce, false, now);
    core.Publish(kTwo, &two, 1, qosExactlyOnce, false, now);
  }

  std::size_t consumed = 0;
  for (std::size_t at = 0; at < ASize;) {
    const std::size_t offer = piece == 0 || ASize - at < piece ? ASize - at : piece;
    sink.InReceived = true;
    const std::size_t taken = core.Received(AData + at, offer, now);
    sink.InReceived = false;
    Check(taken <= offer);
    consumed += taken;
    at += taken;
    if (flushTracking) {
      // A driver whose transport takes half of what is pending each time.
      core.Flushed(static_cast<std::size_t>(core.PendingAnswers()) * 2 + 1);
      if (taken == 0 && core.InputHeld()) core.Flushed(SIZE_MAX / 2);
    }
    // As a driver does: the core is woken when its deadline has come.
    now += step;
    if (core.NextDeadline() <= now) core.Tick(now);
    // Bounded: the window, our three requests, the QoS 2 ids (16-bit), one
    // frame (or the head of one above the cap).
    Check(core.InFlightCount() <= TNeloMQTTCore::kInFlightWindow);
    Check(core.QueuedCount() <= 3);
    // One answer per frame, and the PUBRELs a tick resends.
    Check(core.PendingAnswers() <= TNeloMQTTCore::kAnswerBacklog + 1 + TNeloMQTTCore::kInFlightWindow);
    Check(core.HeapBytes() <= 2 * (static_cast<std::size_t>(cap) + 65540) +
                                  4 * static_cast<std::size_t>(core.HeldQoS2Count()) + 8192);
    if (sink.Closed) {
      Check(!core.IsOpen());
      Check(!core.IsConnected());
      Check(core.NextDeadline() == TNeloMQTTCore::kNoDeadline);
    }
    // Tick leaves nothing due behind.
    Check(!core.IsOpen() || core.NextDeadline() > now);
  }
  Check(sink.AnswerBytes <= consumed + resumed);
  Check(sink.Delivered <= consumed / 2 + 1);
  // The peer closes: the session ends disconnected and stays closed.
  core.TransportClosed(now);
  Check(!core.IsConnected());
  const std::size_t written = sink.Written;
  const uint8_t more[] = {0x32, 0x06, 0x00, 0x01, 'x', 0x00, 0x01, 'y'};
  core.Received(more, sizeof more, now);
  core.Publish("fuzz/three", TNeloMQTTBytes{'3'}, qosAtLeastOnce, false, now);
  core.Ping(now);
  core.Tick(now + 3600 * 1000);
  core.Disconnect(now);
  Check(sink.Written == written);
  return 0;
}
