// Input: a cap selector byte, a piece-size byte, then an arbitrary byte
// stream. The stream is fed to the frame cutter in pieces; every frame cut
// must hold exactly its announced length, never above the cap, and the
// cutter's memory must never exceed the cap. Our broken-frame error is the
// expected answer to a malformed stream; anything else is a finding.
#include <cstddef>
#include <cstdint>

#include "Nelo.MQTT.FrameCutter.h"

namespace {
void Check(bool ACondition) {
  if (!ACondition) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 2) return 0;
  const uint32_t cap = 1u << (AData[0] % 24);
  const size_t piece = 1 + AData[1] % 64;
  AData += 2;
  ASize -= 2;
  TNeloMQTTFrameCutter cutter(cap);
  size_t pos = 0;
  try {
    while (pos < ASize) {
      const size_t size = ASize - pos < piece ? ASize - pos : piece;
      const size_t used = cutter.Feed(AData + pos, size);
      Check(used <= size);
      Check(cutter.BodyMissing() <= cap);
      if (cutter.Complete()) {
        const uint32_t length = cutter.RemainingLength();
        Check(length <= cap);
        Check(cutter.TakeBody().size() == length);
        Check(!cutter.HasFirstByte());
      } else {
        Check(used == size);
      }
      pos += used;
    }
  } catch (const ENeloMQTTBrokenFrame&) {
  }
  return 0;
}
