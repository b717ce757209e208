#include "Nelo.MQTT.Packets.UNSUBSCRIBE.h"

TNeloMQTTUnSubscribePacket::TNeloMQTTUnSubscribePacket(uint16_t APacketID, TNeloStringArray ATopics)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtUNSUBSCRIBE),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)),
      FTopics(std::move(ATopics)) {}

TNeloMQTTUnSubscribePacket::TNeloMQTTUnSubscribePacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                                       TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {}

TNeloMQTTBytes TNeloMQTTUnSubscribePacket::Payload() const {
  TNeloMQTTBytes result;
  for (const auto& topic : FTopics) AddLengthPrefixed(result, topic);
  return result;
}
