// SUBSCRIBE: topic filters, each with its requested QoS.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

class TNeloMQTTSubscribePacket : public TNeloMQTTPacket {
 public:
  // Raises ENeloMQTTError("Error Creating subscribe packet - amount of
  // provided Topics does not match the amount of QoSLevels") when the two
  // arrays differ in length. Filters are not validated here.
  TNeloMQTTSubscribePacket(uint16_t APacketID, TNeloStringArray ATopics, TNeloQosArray ATopicQosLevels);
  // A received SUBSCRIBE (only a server receives one): nothing is parsed.
  TNeloMQTTSubscribePacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTSubscribePacket"; }

  // Each filter length-prefixed, then one byte with its QoS. When the two
  // arrays were later given different lengths, raises ENeloMQTTError
  // instead of reading past the shorter one.
  TNeloMQTTBytes Payload() const override;

  // Whoever assigns these must give both arrays the same length.
  const TNeloStringArray& Topics() const { return FTopics; }
  void SetTopics(TNeloStringArray AValue) { FTopics = std::move(AValue); }
  const TNeloQosArray& TopicQosLevels() const { return FTopicQosLevels; }
  void SetTopicQosLevels(TNeloQosArray AValue) { FTopicQosLevels = std::move(AValue); }

 private:
  TNeloStringArray FTopics;
  TNeloQosArray FTopicQosLevels;
};
