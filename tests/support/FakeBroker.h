// A scripted fake MQTT broker on loopback, for the faults a real broker will
// not produce: withheld or duplicated acknowledgements, resets mid-frame,
// malformed frames, a silent peer. The test drives each accepted connection
// by hand: read whole frames (cut here independently of the engine's codec),
// send arbitrary bytes, close orderly, reset, or stay silent. Every wait has
// an upper bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestWait.h"

namespace tessiva::test {

using TByteVector = std::vector<uint8_t>;

// One MQTT control packet as it travelled: first byte, remaining length, body.
struct TMqttFrame {
  uint8_t FirstByte = 0;
  uint32_t RemainingLength = 0;
  TByteVector Body;
  TByteVector Raw;  // the whole frame as received

  uint8_t Type() const { return FirstByte >> 4; }
  uint8_t Flags() const { return FirstByte & 0x0F; }
  // Bytes 0-1 of the body as a big-endian number (packet id of acks, ...).
  uint16_t Word(std::size_t AOffset) const;
};

// The remaining-length encoding of AValue (1 to 4 bytes).
TByteVector EncodeRemainingLength(uint32_t AValue);
// AFirstByte + remaining length of ABody + ABody.
TByteVector MakeFrame(uint8_t AFirstByte, const TByteVector& ABody = TByteVector());

// Takes the first whole frame off the front of ABytes; nothing while it is
// incomplete. Throws std::runtime_error for a remaining length longer than
// four bytes (and drops ABytes).
std::optional<TMqttFrame> TakeFrame(TByteVector& ABytes);

// One accepted connection.
class TFakeConnection {
 public:
  explicit TFakeConnection(int AFd);
  ~TFakeConnection();  // closes orderly when still open
  TFakeConnection(const TFakeConnection&) = delete;
  TFakeConnection& operator=(const TFakeConnection&) = delete;

  // The next whole frame; nothing when ATimeout passes first or the peer
  // closes. Throws std::runtime_error for a remaining length longer than
  // four bytes (and drops what was buffered).
  std::optional<TMqttFrame> ReadFrame(std::chrono::milliseconds ATimeout = kWaitLong);
  // Exactly ACount bytes; nothing on time-out or close.
  std::optional<TByteVector> ReadBytes(std::size_t ACount, std::chrono::milliseconds ATimeout = kWaitLong);
  // Sends everything; false when the socket refuses (peer gone).
  bool Send(const TByteVector& ABytes);
  bool Send(const std::string& ABytes);
  // FIN after what was sent, then the socket is closed.
  void CloseOrderly();
  // Closes with SO_LINGER 0: the peer gets a reset (RST), not a FIN.
  void Reset();
  // Waits until the peer has closed its side (bytes arriving meanwhile are
  // kept for ReadFrame/ReadBytes). True when the close was seen.
  bool WaitForPeerClose(std::chrono::milliseconds ATimeout = kWaitLong);
  bool PeerClosed() const { return FPeerClosed; }
  // Bytes received and not yet taken by ReadFrame/ReadBytes.
  std::size_t Buffered() const { return FInput.size(); }
  bool IsOpen() const { return FFd >= 0; }
  int Fd() const { return FFd; }

 private:
  // Receives more bytes, waiting until ADeadline; false on time-out or close.
  bool Receive(std::chrono::steady_clock::time_point ADeadline);

  int FFd;
  bool FPeerClosed = false;
  TByteVector FInput;
};

class TFakeBroker {
 public:
  // Listens on 127.0.0.1 (or ::1 when AIPv6) on a free port.
  explicit TFakeBroker(bool AIPv6 = false);
  ~TFakeBroker();
  TFakeBroker(const TFakeBroker&) = delete;
  TFakeBroker& operator=(const TFakeBroker&) = delete;

  int Port() const { return FPort; }
  std::string Host() const { return FIPv6 ? "::1" : "127.0.0.1"; }
  // The next connection; null when none arrives within ATimeout.
  std::unique_ptr<TFakeConnection> Accept(std::chrono::milliseconds ATimeout = kWaitLong);
  // Fills the accept queue and leaves it full, so that further connection
  // attempts get no answer at all (the SYN is dropped): connects time out.
  void Saturate();
  // Stops listening: further connects are refused.
  void CloseListener();

 private:
  bool FIPv6;
  int FListenFd = -1;
  int FPort = 0;
  std::vector<int> FFillers;
};

}  // namespace tessiva::test
