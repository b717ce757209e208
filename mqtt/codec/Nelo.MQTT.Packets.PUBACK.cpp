#include "Nelo.MQTT.Packets.PUBACK.h"

TNeloMQTTPubAckPacket::TNeloMQTTPubAckPacket(uint16_t APacketID)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPUBACK),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)) {}

TNeloMQTTPubAckPacket::TNeloMQTTPubAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                             TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
}
