#include "Nelo.MQTT.Packets.PUBCOMP.h"

TNeloMQTTPubCompPacket::TNeloMQTTPubCompPacket(uint16_t APacketID)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPUBCOMP),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)) {}

TNeloMQTTPubCompPacket::TNeloMQTTPubCompPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                               TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
}
