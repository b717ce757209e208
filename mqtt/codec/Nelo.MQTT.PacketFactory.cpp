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

namespace {

template <class T>
std::unique_ptr<TNeloMQTTPacket> Build(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes) {
  return std::make_unique<T>(std::move(AHeader), std::move(ABytes));
}

}  // namespace

std::unique_ptr<TNeloMQTTPacket> TNeloMQTTPacketFactory::CreateFrom(uint8_t AFirst,
                                                                    TNeloMQTTBytes ARemainingBytes) {
  auto LHeader = std::make_unique<TNeloMQTTFixedHeader>(AFirst);
  auto LBytes = std::move(ARemainingBytes);
  switch (LHeader->PacketType()) {
    case mtCONNECT:
      return Build<TNeloMQTTConnectPacket>(std::move(LHeader), std::move(LBytes));
    case mtCONNACK:
      return Build<TNeloMQTTConnAckPacket>(std::move(LHeader), std::move(LBytes));
    case mtPUBLISH:
      return Build<TNeloMQTTPublishPacket>(std::move(LHeader), std::move(LBytes));
    case mtPUBACK:
      return Build<TNeloMQTTPubAckPacket>(std::move(LHeader), std::move(LBytes));
    case mtPUBREC:
      return Build<TNeloMQTTPubRecPacket>(std::move(LHeader), std::move(LBytes));
    case mtPUBREL:
      return Build<TNeloMQTTPubRelPacket>(std::move(LHeader), std::move(LBytes));
    case mtPUBCOMP:
      return Build<TNeloMQTTPubCompPacket>(std::move(LHeader), std::move(LBytes));
    case mtSUBSCRIBE:
      return Build<TNeloMQTTSubscribePacket>(std::move(LHeader), std::move(LBytes));
    case mtSUBACK:
      return Build<TNeloMQTTSubAckPacket>(std::move(LHeader), std::move(LBytes));
    case mtUNSUBSCRIBE:
      return Build<TNeloMQTTUnSubscribePacket>(std::move(LHeader), std::move(LBytes));
    case mtUNSUBACK:
      return Build<TNeloMQTTUnsubAckPacket>(std::move(LHeader), std::move(LBytes));
    case mtPINGREQ:
      return Build<TNeloMQTTPingRequestPacket>(std::move(LHeader), std::move(LBytes));
    case mtPINGRESP:
      return Build<TNeloMQTTPingRespPacket>(std::move(LHeader), std::move(LBytes));
    case mtDISCONNECT:
      return Build<TNeloMQTTDisconnectPacket>(std::move(LHeader), std::move(LBytes));
    case mtRESERVED0:
    case mtRESERVED15:
      break;
  }
  throw ENeloMQTTError("RESERVED PACKET TYPE");
}
