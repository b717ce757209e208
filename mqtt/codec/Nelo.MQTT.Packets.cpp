#include "Nelo.MQTT.Packets.h"

#include "Nelo.MQTT.Texts.h"

std::string NeloBoolToStr(bool AValue) { return AValue ? "-1" : "0"; }

std::string PacketTypeToString(TNeloMQTTPacketType AValue) {
  static const char* const kNames[16] = {"mtRESERVED0", "mtCONNECT",  "mtCONNACK",     "mtPUBLISH",
                                         "mtPUBACK",    "mtPUBREC",   "mtPUBREL",      "mtPUBCOMP",
                                         "mtSUBSCRIBE", "mtSUBACK",   "mtUNSUBSCRIBE", "mtUNSUBACK",
                                         "mtPINGREQ",   "mtPINGRESP", "mtDISCONNECT",  "mtRESERVED15"};
  const auto index = static_cast<unsigned>(AValue);
  return index < 16 ? kNames[index] : std::to_string(index);
}

std::string QoSToString(TNeloMQTTQoS AValue) {
  static const char* const kNames[4] = {"qosAtMostOnce", "qosAtLeastOnce", "qosExactlyOnce", "qosRESERVED"};
  const auto index = static_cast<unsigned>(AValue);
  return index < 4 ? kNames[index] : std::to_string(index);
}

// ---- TFlagsByte -------------------------------------------------------------

int TFlagsByte::GetFlag(int AOffset, int ANrOfBits) const {
  return (FByte >> AOffset) & ((1 << ANrOfBits) - 1);
}

void TFlagsByte::SetFlag(int AOffset, int ANrOfBits, int AValue) {
  const int mask = (1 << ANrOfBits) - 1;
  NELO_ASSERT(AValue >= 0 && AValue <= mask, "Assertion failure");
  FByte = static_cast<uint8_t>(((FByte & ~(mask << AOffset)) | (AValue << AOffset)) & 0xFF);
}

// ---- TNeloMQTTFixedHeader ---------------------------------------------------

TNeloMQTTFixedHeader::TNeloMQTTFixedHeader(TNeloMQTTPacketType APacketType) : TFlagsByte(0) {
  SetPacketType(APacketType);
  // MQTT 3.1.1 prescribes the flag nibble 0010 for these three packets.
  if (APacketType == mtPUBREL || APacketType == mtSUBSCRIBE || APacketType == mtUNSUBSCRIBE)
    SetQoS(qosAtLeastOnce);
}

TNeloMQTTFixedHeader::TNeloMQTTFixedHeader(TNeloMQTTPacketType APacketType, bool AIsDuplicate,
                                           TNeloMQTTQoS AQoS, bool ARetain)
    : TFlagsByte(0) {
  SetPacketType(APacketType);
  SetIsDuplicate(AIsDuplicate);
  SetQoS(AQoS);
  SetRetain(ARetain);
}

std::string TNeloMQTTFixedHeader::ToString() const {
  return TNeloMQTTCodecTexts::kMessageType + PacketTypeToString(PacketType()) + "\r\n" +  //
         TNeloMQTTCodecTexts::kIsDuplicate + NeloBoolToStr(IsDuplicate()) + "\r\n" +      //
         TNeloMQTTCodecTexts::kQos + QoSToString(QoS()) + "\r\n" +                        //
         TNeloMQTTCodecTexts::kRetain + NeloBoolToStr(Retain()) + "\r\n";
}

// ---- TNeloMQTTVariableHeader ------------------------------------------------

TNeloMQTTBytes TNeloMQTTVariableHeader::GetBytes() const {
  if (FPacketID == 0) return {};
  return WordToBytes(FPacketID);
}

void TNeloMQTTVariableHeader::SetBytes(const TNeloMQTTBytes& /*AValue*/) {}

void TNeloMQTTVariableHeader::ReadPacketId(const TNeloMQTTBytes& ABytes, int& AIndex) {
  FPacketID = ReadWord(ABytes, AIndex);
}

std::string TNeloMQTTVariableHeader::ToString() const {
  if (FPacketID == 0) return {};
  return TNeloMQTTCodecTexts::kPacketId + std::to_string(FPacketID) + "\r\n";
}

// ---- TNeloMQTTPacket ----------------------------------------------------------

TNeloMQTTPacket::TNeloMQTTPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                 TNeloMQTTBytes ARemainingBytes)
    : FRawBytes(std::move(ARemainingBytes)), FFixedHeader(std::move(AHeader)) {}

TNeloMQTTPacket::TNeloMQTTPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                 std::unique_ptr<TNeloMQTTVariableHeader> AVariableHeader)
    : FFixedHeader(std::move(AHeader)), FVariableHeader(std::move(AVariableHeader)) {}

TNeloMQTTPacket::~TNeloMQTTPacket() {
  // The fixed header first, then the variable header.
  FFixedHeader.reset();
  FVariableHeader.reset();
}

TNeloMQTTBytes TNeloMQTTPacket::Payload() const { return {}; }

const TNeloMQTTBytes& TNeloMQTTPacket::PayloadForWire(TNeloMQTTBytes& AScratch) const {
  AScratch = Payload();
  return AScratch;
}

TNeloMQTTBytes TNeloMQTTPacket::GetBytes() const {
  // Same result as appending first byte, variable header and payload and
  // then inserting the remaining length at index 1, without moving the body.
  TNeloMQTTBytes scratch;
  const TNeloMQTTBytes& payload = PayloadForWire(scratch);
  const size_t bodyLength = (FVariableHeader ? FVariableHeader->BytesLength() : 0) + payload.size();

  TNeloMQTTBytes result;
  result.reserve(1 + 4 + bodyLength);
  result.push_back(FFixedHeader ? FFixedHeader->Byte() : 0);
  AddRemainingLength(result, static_cast<int64_t>(bodyLength));
  if (FVariableHeader) FVariableHeader->AppendBytes(result);
  AddBytes(result, payload);
  return result;
}

TNeloMQTTPacketType TNeloMQTTPacket::PacketType() const {
  return FFixedHeader ? FFixedHeader->PacketType() : mtRESERVED0;
}
TNeloMQTTQoS TNeloMQTTPacket::QoS() const { return FFixedHeader ? FFixedHeader->QoS() : qosAtMostOnce; }
bool TNeloMQTTPacket::IsDuplicate() const { return FFixedHeader ? FFixedHeader->IsDuplicate() : false; }
bool TNeloMQTTPacket::IsRetained() const { return FFixedHeader ? FFixedHeader->Retain() : false; }
uint16_t TNeloMQTTPacket::PacketId() const { return FVariableHeader ? FVariableHeader->PacketId() : 0; }

void TNeloMQTTPacket::ReadPacketIdHeader() {
  auto header = std::make_unique<TNeloMQTTVariableHeader>();
  int index = 0;
  header->ReadPacketId(FRawBytes, index);
  FVariableHeader = std::move(header);
}

void TNeloMQTTPacket::ThrowInvalidCast(const std::string& AClassName) const {
  throw ENeloMQTTError("Invalid class typecast: " + ClassName() + " has no " + AClassName);
}
