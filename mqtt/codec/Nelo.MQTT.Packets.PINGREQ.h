// PINGREQ: a fixed header only, no variable header, no payload.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

class TNeloMQTTPingRequestPacket : public TNeloMQTTPacket {
 public:
  TNeloMQTTPingRequestPacket();
  TNeloMQTTPingRequestPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTPingRequestPacket"; }
};
