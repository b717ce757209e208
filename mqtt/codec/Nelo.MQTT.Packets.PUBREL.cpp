#include "Nelo.MQTT.Packets.PUBREL.h"

TNeloMQTTPubRelPacket::TNeloMQTTPubRelPacket(uint16_t APacketID)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPUBREL),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)) {}

TNeloMQTTPubRelPacket::TNeloMQTTPubRelPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                             TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
}
