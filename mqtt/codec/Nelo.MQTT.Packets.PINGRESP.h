// PINGRESP: a fixed header only, no variable header, no payload.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

class TNeloMQTTPingRespPacket : public TNeloMQTTPacket {
 public:
  TNeloMQTTPingRespPacket();
  TNeloMQTTPingRespPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTPingRespPacket"; }
};
