#include "Nelo.MQTT.FrameCutter.h"

#include <algorithm>
#include <string>

std::size_t TNeloMQTTFrameCutter::Feed(const uint8_t* AData, std::size_t ASize) {
  std::size_t used = 0;
  while (used < ASize && FState != csComplete) {
    const uint8_t byte = AData[used];
    switch (FState) {
      case csFirstByte:
        FFirstByte = byte;
        FState = csLength;
        ++used;
        break;
      case csLength: {
        FLength |= static_cast<uint32_t>(byte & 0x7F) << (7 * FLengthBytes);
        ++FLengthBytes;
        ++used;
        if (byte & 0x80) {
          if (FLengthBytes == 4) throw ENeloMQTTBrokenFrame("Malformed remaining length");
          break;
        }
        if (FLength > FMax)
          throw ENeloMQTTBrokenFrame("Incoming packet of " + std::to_string(FLength) +
                                     " bytes is larger than MaxIncomingPacketSize (" + std::to_string(FMax) +
                                     ")");
        FState = FLength == 0 ? csComplete : csBody;
        break;
      }
      case csBody: {
        // Memory grows with what arrived, not with what was announced.
        const std::size_t take = std::min<std::size_t>(ASize - used, FLength - FBody.size());
        FBody.insert(FBody.end(), AData + used, AData + used + take);
        used += take;
        if (FBody.size() == FLength) FState = csComplete;
        break;
      }
      case csComplete:
        break;
    }
  }
  return used;
}

TNeloMQTTBytes TNeloMQTTFrameCutter::TakeBody() {
  TNeloMQTTBytes body;
  body.swap(FBody);
  Reset();
  return body;
}

void TNeloMQTTFrameCutter::Reset() {
  FState = csFirstByte;
  FFirstByte = 0;
  FLength = 0;
  FLengthBytes = 0;
  FBody.clear();
}
