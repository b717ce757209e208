// Input: byte 0 is the frame's first byte, the rest its remaining bytes.
// Every packet the factory returns is rendered, serialised and decoded again;
// the second decoding must agree with the first. Our own exceptions are the
// expected answer to malformed frames; anything else is a finding.
#include <cstddef>
#include <cstdint>

#include "Nelo.MQTT.PacketFactory.h"
#include "Nelo.MQTT.Packets.CONNACK.h"
#include "Nelo.MQTT.Packets.PUBLISH.h"
#include "Nelo.MQTT.Packets.SUBACK.h"
#include "Nelo.MQTT.Utils.h"

namespace {

void Check(bool ACondition) {
  if (!ACondition) __builtin_trap();
}

// Splits a serialised packet into first byte and remaining bytes, checking
// that the remaining-length field tells the truth.
TNeloMQTTBytes RemainingOf(const TNeloMQTTBytes& AWire) {
  Check(AWire.size() >= 2);
  size_t fieldLength = 1;
  while (fieldLength < 4 && (AWire[fieldLength] & 0x80)) ++fieldLength;
  const TNeloMQTTBytes field(AWire.begin() + 1, AWire.begin() + 1 + static_cast<std::ptrdiff_t>(fieldLength));
  const size_t length = static_cast<size_t>(DecodeRemainingLength(field));
  Check(length == AWire.size() - 1 - fieldLength);
  return TNeloMQTTBytes(AWire.begin() + 1 + static_cast<std::ptrdiff_t>(fieldLength), AWire.end());
}

void Exercise(uint8_t AFirst, TNeloMQTTBytes ABytes) {
  const auto packet = TNeloMQTTPacketFactory::CreateFrom(AFirst, ABytes);
  Check(packet != nullptr);
  Check(packet->GetRawBytes() == ABytes);
  Check(packet->FixedHeader()->Byte() == AFirst);
  (void)packet->ToString();
  (void)packet->FixedHeader()->ToString();
  if (packet->VariableHeader()) (void)packet->VariableHeader()->ToString();

  const TNeloMQTTBytes wire = packet->GetBytes();
  Check(wire[0] == AFirst);
  Check(packet->GetBytes() == wire);
  std::unique_ptr<TNeloMQTTPacket> again;
  try {
    again = TNeloMQTTPacketFactory::CreateFrom(wire[0], RemainingOf(wire));
  } catch (const ENeloMQTTError&) {
    // Only a packet identifier of 0 is left off the wire (it means "none"),
    // so only then may the serialised form be too short to decode.
    Check(packet->PacketId() == 0);
    return;
  }
  Check(again->PacketType() == packet->PacketType());
  Check(again->ClassName() == packet->ClassName());

  if (auto* publish = dynamic_cast<TNeloMQTTPublishPacket*>(packet.get())) {
    auto& back = dynamic_cast<TNeloMQTTPublishPacket&>(*again);
    // An empty topic field at the very end of a body is left unread by
    // design, so only packets with a topic round-trip field by field.
    if (!publish->TopicName().empty()) {
      Check(back.TopicName() == publish->TopicName());
      Check(back.PacketId() == publish->PacketId());
      Check(back.PayloadRef() == publish->PayloadRef());
      Check(back.GetBytes() == wire);
    }
  } else if (auto* connAck = dynamic_cast<TNeloMQTTConnAckPacket*>(packet.get())) {
    Check(dynamic_cast<TNeloMQTTConnAckPacket&>(*again).ReturnCode() == connAck->ReturnCode());
    Check(again->GetBytes() == wire);
  } else if (auto* subAck = dynamic_cast<TNeloMQTTSubAckPacket*>(packet.get())) {
    for (const auto& code : subAck->ReturnCodes()) (void)code->ToString();
    Check(again->PacketId() == subAck->PacketId());
  } else {
    Check(again->PacketId() == packet->PacketId());
    Check(again->GetBytes() == wire);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize == 0) return 0;
  TNeloMQTTBytes remaining(AData + 1, AData + ASize);
  try {
    Exercise(AData[0], std::move(remaining));
  } catch (const ENeloMQTTError&) {
  } catch (const ENeloMQTTAssertionFailed&) {
  }
  return 0;
}
