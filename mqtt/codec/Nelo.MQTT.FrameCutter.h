// Cuts a received byte stream into MQTT frames: first byte, remaining length
// (one to four bytes, checked against a cap as soon as it is known, before
// anything is allocated for the body), body. Pure: it is fed bytes and does
// no I/O, so it can be tested and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Nelo.MQTT.Global.h"

// A stream that cannot be cut any further: a remaining length longer than
// four bytes, or above the cap. The connection is to be closed.
class ENeloMQTTBrokenFrame : public ENeloMQTTError {
 public:
  using ENeloMQTTError::ENeloMQTTError;
};

class TNeloMQTTFrameCutter {
 public:
  explicit TNeloMQTTFrameCutter(uint32_t AMaxRemainingLength) : FMax(AMaxRemainingLength) {}

  // Takes bytes from AData until the current frame is complete; returns how
  // many it took (the rest belongs to the next frame). Raises
  // ENeloMQTTBrokenFrame for a malformed or oversized remaining length.
  std::size_t Feed(const uint8_t* AData, std::size_t ASize);

  bool HasFirstByte() const { return FState != csFirstByte; }
  // The remaining length has been read (and passed the cap).
  bool LengthKnown() const { return FState == csBody || FState == csComplete; }
  bool Complete() const { return FState == csComplete; }
  uint8_t FirstByte() const { return FFirstByte; }
  uint32_t RemainingLength() const { return FLength; }
  // Bytes of the remaining-length field read so far.
  int LengthBytes() const { return FLengthBytes; }
  // Bytes still wanted to complete the frame (0 before the length is known).
  std::size_t BodyMissing() const { return LengthKnown() ? FLength - FBody.size() : 0; }
  // The body of the complete frame; the cutter starts on the next frame.
  TNeloMQTTBytes TakeBody();
  void Reset();

 private:
  enum TState { csFirstByte, csLength, csBody, csComplete };
  uint32_t FMax;
  TState FState = csFirstByte;
  uint8_t FFirstByte = 0;
  uint32_t FLength = 0;
  int FLengthBytes = 0;
  TNeloMQTTBytes FBody;
};
