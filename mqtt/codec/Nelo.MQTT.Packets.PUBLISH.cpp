#include "Nelo.MQTT.Packets.PUBLISH.h"

TNeloMQTTPublishVariableHeader::TNeloMQTTPublishVariableHeader(uint16_t APacketId, std::string ATopic,
                                                               TNeloMQTTQoS AQoS)
    : TNeloMQTTVariableHeader(APacketId), FTopicName(std::move(ATopic)), FQoS(AQoS) {}

TNeloMQTTBytes TNeloMQTTPublishVariableHeader::GetBytes() const {
  TNeloMQTTBytes result;
  result.reserve(BytesLength());
  AppendBytes(result);
  return result;
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
  const TNeloMQTTQoS qoS = QoS();
  int index = 0;
  std::string topic = ReadLengthPrefixedString(FRawBytes, index);
  uint16_t packetId = 0;
  if (qoS != qosAtMostOnce) packetId = ReadWord(FRawBytes, index);
  // The header keeps the received QoS, so that a decoded packet serialises
  // back with its packet identifier.
  FVariableHeader = std::make_unique<TNeloMQTTPublishVariableHeader>(packetId, std::move(topic), qoS);
  FPayload = ReadRemainingBytes(FRawBytes, index);
}

const std::string& TNeloMQTTPublishPacket::TopicName() const {
  return VariableHeaderAs<TNeloMQTTPublishVariableHeader>().TopicName();
}

const TNeloMQTTBytes& TNeloMQTTPublishPacket::PayloadForWire(TNeloMQTTBytes& /*AScratch*/) const {
  return FPayload;
}
