#include "Nelo.MQTT.Packets.DISCONNECT.h"

TNeloMQTTDisconnectPacket::TNeloMQTTDisconnectPacket()
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtDISCONNECT)) {}

TNeloMQTTDisconnectPacket::TNeloMQTTDisconnectPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                                     TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {}
