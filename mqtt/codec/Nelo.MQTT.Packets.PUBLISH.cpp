#include "Nelo.MQTT.Packets.PUBLISH.h"

TNeloMQTTPublishVariableHeader::TNeloMQTTPublishVariableHeader(uint16_t APacketId, std::string ATopic,
                                                               TNeloMQTTQoS AQoS)
    : TNeloMQTTVariableHeader(APacketId), FTopicName(std::move(ATopic)), FQoS(AQoS) {}

TNeloMQTTBytes TNeloMQTTPublishVariableHeader::GetBytes() const {
  TNeloMQTTBytes LResult;
  LResult.reserve(BytesLength());
  AppendBytes(LResult);
  return LResult;
}

size_t TNeloMQTTPublishVariableHeader::BytesLength() const {
  return 2 + FTopicName.size() + (FQoS != qosAtMostOnce ? 2 : 0);
}

void TNeloMQTTPublishVariableHeader::AppendBytes(TNeloMQTTBytes& AOut) const {
  AddLengthPrefixed(AOut, FTopicName);
  if (FQoS != qosAtMostOnce) {
    AOut.push_back(static_cast<uint8_t>(FPacketID >> 8));
    AOut.push_back(static_cast<uint8_t>(FPacketID & 0xFF));
  }
}

TNeloMQTTPublishPacket::TNeloMQTTPublishPacket(uint16_t APacketId, const std::string& ATopic,
                                               TNeloMQTTBytes APayload, TNeloMQTTQoS AQoS, bool ARetain)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtPUBLISH, false, AQoS, ARetain),
                      std::make_unique<TNeloMQTTPublishVariableHeader>(APacketId, ATopic, AQoS)),
      FPayload(std::move(APayload)) {}

TNeloMQTTPublishPacket::TNeloMQTTPublishPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                               TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  const TNeloMQTTQoS LQoS = QoS();
  int LIndex = 0;
  std::string LTopic = ReadLengthPrefixedString(FRawBytes, LIndex);
  uint16_t LPacketId = 0;
  if (LQoS != qosAtMostOnce) LPacketId = ReadWord(FRawBytes, LIndex);
  // The header keeps the received QoS, so that a decoded packet serialises
  // back with its packet identifier.
  FVariableHeader = std::make_unique<TNeloMQTTPublishVariableHeader>(LPacketId, std::move(LTopic), LQoS);
  FPayload = ReadRemainingBytes(FRawBytes, LIndex);
}

const std::string& TNeloMQTTPublishPacket::TopicName() const {
  return VariableHeaderAs<TNeloMQTTPublishVariableHeader>().TopicName();
}

const TNeloMQTTBytes& TNeloMQTTPublishPacket::PayloadForWire(TNeloMQTTBytes& /*AScratch*/) const {
  return FPayload;
}
