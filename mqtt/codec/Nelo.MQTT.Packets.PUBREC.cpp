#include "Nelo.MQTT.Packets.PUBREC.h"

TNeloMQTTPubRecPacket::TNeloMQTTPubRecPacket(uint16_t APacketID)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPUBREC),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)) {}

TNeloMQTTPubRecPacket::TNeloMQTTPubRecPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                             TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
}
