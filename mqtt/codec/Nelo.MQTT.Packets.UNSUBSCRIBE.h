// UNSUBSCRIBE: the topic filters to drop.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

class TNeloMQTTUnSubscribePacket : public TNeloMQTTPacket {
 public:
  TNeloMQTTUnSubscribePacket(uint16_t APacketID, TNeloStringArray ATopics);
  // A received UNSUBSCRIBE (only a server receives one): nothing is parsed.
  TNeloMQTTUnSubscribePacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTUnSubscribePacket"; }

  // Each filter as a length-prefixed string, nothing else.
  TNeloMQTTBytes Payload() const override;

  const TNeloStringArray& Topics() const { return FTopics; }
  void SetTopics(TNeloStringArray AValue) { FTopics = std::move(AValue); }

 private:
  TNeloStringArray FTopics;
};
