#include "Nelo.MQTT.Packets.PINGRESP.h"

TNeloMQTTPingRespPacket::TNeloMQTTPingRespPacket()
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPINGRESP)) {}

TNeloMQTTPingRespPacket::TNeloMQTTPingRespPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                                 TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {}
