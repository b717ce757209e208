#include "Nelo.MQTT.Packets.SUBSCRIBE.h"

#include "Nelo.MQTT.Texts.h"

namespace {

// Checked before any member is built, so a mismatch leaves nothing behind.
TNeloStringArray CheckedTopics(TNeloStringArray ATopics, const TNeloQosArray& ATopicQosLevels) {
  if (ATopics.size() != ATopicQosLevels.size())
    throw ENeloMQTTError(TNeloMQTTCodecTexts::kSubscribeCountMismatch);
  return ATopics;
}

}  // namespace

TNeloMQTTSubscribePacket::TNeloMQTTSubscribePacket(uint16_t APacketID, TNeloStringArray ATopics,
                                                   TNeloQosArray ATopicQosLevels)
    : TNeloMQTTPacket(nullptr),
      FTopics(CheckedTopics(std::move(ATopics), ATopicQosLevels)),
      FTopicQosLevels(std::move(ATopicQosLevels)) {
  FFixedHeader = std::make_unique<TNeloMQTTFixedHeader>(mtSUBSCRIBE);
  FVariableHeader = std::make_unique<TNeloMQTTVariableHeader>(APacketID);
}

TNeloMQTTSubscribePacket::TNeloMQTTSubscribePacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                                   TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {}

TNeloMQTTBytes TNeloMQTTSubscribePacket::Payload() const {
  if (FTopics.size() != FTopicQosLevels.size())
    throw ENeloMQTTError("Error serialising subscribe packet - amount of Topics (" +
                         std::to_string(FTopics.size()) + ") does not match the amount of QoSLevels (" +
                         std::to_string(FTopicQosLevels.size()) + ")");
  TNeloMQTTBytes result;
  for (size_t i = 0; i < FTopics.size(); ++i) {
    AddLengthPrefixed(result, FTopics[i]);
    AddByte(result, static_cast<uint8_t>(static_cast<unsigned>(FTopicQosLevels[i]) & 0x03));
  }
  return result;
}
