#include "Nelo.MQTT.Packets.UNSUBACK.h"

TNeloMQTTUnsubAckPacket::TNeloMQTTUnsubAckPacket(uint16_t APacketID)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtUNSUBACK),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)) {}

TNeloMQTTUnsubAckPacket::TNeloMQTTUnsubAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                                 TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
}
