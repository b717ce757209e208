// Turns one received frame (first byte + the bytes after the remaining-length
// field) into a packet object of the right class.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

class TNeloMQTTPacketFactory {
 public:
  TNeloMQTTPacketFactory() = delete;

  // The first byte is taken over as received (the flag nibble is not checked
  // against the packet type). Types 0 and 15 raise ENeloMQTTError("RESERVED
  // PACKET TYPE"); errors of the parse constructors ("Could not read") pass
  // through. The result belongs to the caller and keeps ARemainingBytes as
  // its raw bytes.
  static std::unique_ptr<TNeloMQTTPacket> CreateFrom(uint8_t AFirst, TNeloMQTTBytes ARemainingBytes);
};
