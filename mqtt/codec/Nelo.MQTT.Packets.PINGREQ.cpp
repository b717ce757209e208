#include "Nelo.MQTT.Packets.PINGREQ.h"

TNeloMQTTPingRequestPacket::TNeloMQTTPingRequestPacket()
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPINGREQ)) {}

TNeloMQTTPingRequestPacket::TNeloMQTTPingRequestPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                                       TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {}
