// PUBLISH: an application message, in either direction.
#pragma once

#include <memory>
#include <string>

#include "Nelo.MQTT.Packets.h"

// Topic name, then the packet identifier unless the QoS is 0.
class TNeloMQTTPublishVariableHeader : public TNeloMQTTVariableHeader {
 public:
  TNeloMQTTPublishVariableHeader() = default;
  TNeloMQTTPublishVariableHeader(uint16_t APacketId, std::string ATopic, TNeloMQTTQoS AQoS);
  std::string ClassName() const override { return "TNeloMQTTPublishVariableHeader"; }

  // The identifier is written for every QoS but 0, also when it is 0; for
  // QoS 0 never, whatever identifier was given.
  TNeloMQTTBytes GetBytes() const override;
  size_t BytesLength() const override;
  void AppendBytes(TNeloMQTTBytes& AOut) const override;

  const std::string& TopicName() const { return FTopicName; }

 private:
  std::string FTopicName;
  TNeloMQTTQoS FQoS = qosAtMostOnce;
};

class TNeloMQTTPublishPacket : public TNeloMQTTPacket {
 public:
  // DUP is always clear here; a retransmission sets it in the stored bytes.
  // The topic is not validated here (the caller does that).
  TNeloMQTTPublishPacket(uint16_t APacketId, const std::string& ATopic, TNeloMQTTBytes APayload,
                         TNeloMQTTQoS AQoS, bool ARetain);
  // Decodes topic name, packet identifier (QoS 1, 2 and 3) and payload.
  // Raises "Could not read" when a QoS 1/2/3 body ends before the packet
  // identifier. A topic field that is too short does not raise: the topic is
  // then empty. Topic bytes that are not valid UTF-8 are kept as they are
  // (the text is not altered, so nothing is lost and the packet serialises
  // back to the same bytes); it is for whoever displays the topic to decide
  // how to show them.
  TNeloMQTTPublishPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTPublishPacket"; }

  TNeloMQTTBytes Payload() const override { return FPayload; }
  // The payload without a copy.
  const TNeloMQTTBytes& PayloadRef() const { return FPayload; }
  const std::string& TopicName() const;

 protected:
  const TNeloMQTTBytes& PayloadForWire(TNeloMQTTBytes& AScratch) const override;

 private:
  TNeloMQTTBytes FPayload;
};
