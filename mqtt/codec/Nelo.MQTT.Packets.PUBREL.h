// PUBREL: carries only the packet identifier of the flow it belongs to.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

class TNeloMQTTPubRelPacket : public TNeloMQTTPacket {
 public:
  explicit TNeloMQTTPubRelPacket(uint16_t APacketID);
  // Reads the packet identifier from the first two remaining bytes (further
  // bytes are ignored); fewer than two raise "Could not read".
  TNeloMQTTPubRelPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTPubRelPacket"; }
};
