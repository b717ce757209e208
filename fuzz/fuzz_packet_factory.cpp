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
  size_t LFieldLength = 1;
  while (LFieldLength < 4 && (AWire[LFieldLength] & 0x80)) ++LFieldLength;
  const TNeloMQTTBytes LField(AWire.begin() + 1,
                              AWire.begin() + 1 + static_cast<std::ptrdiff_t>(LFieldLength));
  const size_t LLength = static_cast<size_t>(DecodeRemainingLength(LField));
  Check(LLength == AWire.size() - 1 - LFieldLength);
  return TNeloMQTTBytes(AWire.begin() + 1 + static_cast<std::ptrdiff_t>(LFieldLength), AWire.end());
}

void Exercise(uint8_t AFirst, TNeloMQTTBytes ABytes) {
  const auto LPacket = TNeloMQTTPacketFactory::CreateFrom(AFirst, ABytes);
  Check(LPacket != nullptr);
  Check(LPacket->GetRawBytes() == ABytes);
  Check(LPacket->FixedHeader()->Byte() == AFirst);
  (void)LPacket->ToString();
  (void)LPacket->FixedHeader()->ToString();
  if (LPacket->VariableHeader()) (void)LPacket->VariableHeader()->ToString();

  const TNeloMQTTBytes LWire = LPacket->GetBytes();
  Check(LWire[0] == AFirst);
  Check(LPacket->GetBytes() == LWire);
  std::unique_ptr<TNeloMQTTPacket> LAgain;
  try {
    LAgain = TNeloMQTTPacketFactory::CreateFrom(LWire[0], RemainingOf(LWire));
  } catch (const ENeloMQTTError&) {
    // Only a packet identifier of 0 is left off the wire (it means "none"),
    // so only then may the serialised form be too short to decode.
    Check(LPacket->PacketId() == 0);
    return;
  }
  Check(LAgain->PacketType() == LPacket->PacketType());
  Check(LAgain->ClassName() == LPacket->ClassName());

  if (auto* LPublish = dynamic_cast<TNeloMQTTPublishPacket*>(LPacket.get())) {
    auto& LBack = dynamic_cast<TNeloMQTTPublishPacket&>(*LAgain);
    // An empty topic field at the very end of a body is left unread by
    // design, so only packets with a topic round-trip field by field.
    if (!LPublish->TopicName().empty()) {
      Check(LBack.TopicName() == LPublish->TopicName());
      Check(LBack.PacketId() == LPublish->PacketId());
      Check(LBack.PayloadRef() == LPublish->PayloadRef());
      Check(LBack.GetBytes() == LWire);
    }
  } else if (auto* LConnAck = dynamic_cast<TNeloMQTTConnAckPacket*>(LPacket.get())) {
    Check(dynamic_cast<TNeloMQTTConnAckPacket&>(*LAgain).ReturnCode() == LConnAck->ReturnCode());
    Check(LAgain->GetBytes() == LWire);
  } else if (auto* LSubAck = dynamic_cast<TNeloMQTTSubAckPacket*>(LPacket.get())) {
    for (const auto& LCode : LSubAck->ReturnCodes()) (void)LCode->ToString();
    Check(LAgain->PacketId() == LSubAck->PacketId());
  } else {
    Check(LAgain->PacketId() == LPacket->PacketId());
    Check(LAgain->GetBytes() == LWire);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize == 0) return 0;
  TNeloMQTTBytes LRemaining(AData + 1, AData + ASize);
  try {
    Exercise(AData[0], std::move(LRemaining));
  } catch (const ENeloMQTTError&) {
  } catch (const ENeloMQTTAssertionFailed&) {
  }
  return 0;
}
