#include "Nelo.MQTT.PacketFactory.h"

#include "Nelo.MQTT.Packets.CONNACK.h"
#include "Nelo.MQTT.Packets.CONNECT.h"
#include "Nelo.MQTT.Packets.DISCONNECT.h"
#include "Nelo.MQTT.Packets.PINGREQ.h"
#include "Nelo.MQTT.Packets.PINGRESP.h"
#include "Nelo.MQTT.Packets.PUBACK.h"
#include "Nelo.MQTT.Packets.PUBCOMP.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.PUBREC.h"
#include "Nelo.MQTT.Packets.PUBREL.h"
#include "Nelo.MQTT.Packets.SUBACK.h"
#include "Nelo.MQTT.Packets.SUBSCRIBE.h"
#include "Nelo.MQTT.Packets.UNSUBACK.h"
#include "Nelo.MQTT.Packets.UNSUBSCRIBE.h"
#include "Nelo.MQTT.Texts.h"

namespace {

template <class T>
std::unique_ptr<TNeloMQTTPacket> Build(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes) {
  return std::make_unique<T>(std::move(AHeader), std::move(ABytes));
}

}  // namespace

std::unique_ptr<TNeloMQTTPacket> TNeloMQTTPacketFactory::CreateFrom(uint8_t AFirst,
                                                                    TNeloMQTTBytes ARemainingBytes) {
  auto header = std::make_unique<TNeloMQTTFixedHeader>(AFirst);
  auto bytes = std::move(ARemainingBytes);
  switch (header->PacketType()) {
    case mtCONNECT:
      return Build<TNeloMQTTConnectPacket>(std::move(header), std::move(bytes));
    case mtCONNACK:
      return Build<TNeloMQTTConnAckPacket>(std::move(header), std::move(bytes));
    case mtPUBLISH:
      return Build<TNeloMQTTPublishPacket>(std::move(header), std::move(bytes));
    case mtPUBACK:
      return Build<TNeloMQTTPubAckPacket>(std::move(header), std::move(bytes));
    case mtPUBREC:
      return Build<TNeloMQTTPubRecPacket>(std::move(header), std::move(bytes));
    case mtPUBREL:
      return Build<TNeloMQTTPubRelPacket>(std::move(header), std::move(bytes));
    case mtPUBCOMP:
      return Build<TNeloMQTTPubCompPacket>(std::move(header), std::move(bytes));
    case mtSUBSCRIBE:
      return Build<TNeloMQTTSubscribePacket>(std::move(header), std::move(bytes));
    case mtSUBACK:
      return Build<TNeloMQTTSubAckPacket>(std::move(header), std::move(bytes));
    case mtUNSUBSCRIBE:
      return Build<TNeloMQTTUnSubscribePacket>(std::move(header), std::move(bytes));
    case mtUNSUBACK:
      return Build<TNeloMQTTUnsubAckPacket>(std::move(header), std::move(bytes));
    case mtPINGREQ:
      return Build<TNeloMQTTPingRequestPacket>(std::move(header), std::move(bytes));
    case mtPINGRESP:
      return Build<TNeloMQTTPingRespPacket>(std::move(header), std::move(bytes));
    case mtDISCONNECT:
      return Build<TNeloMQTTDisconnectPacket>(std::move(header), std::move(bytes));
    case mtRESERVED0:
    case mtRESERVED15:
      break;
  }
  throw ENeloMQTTError(TNeloMQTTCodecTexts::kReservedPacketType);
}
