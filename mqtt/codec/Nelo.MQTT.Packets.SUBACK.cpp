#include "Nelo.MQTT.Packets.SUBACK.h"

#include "Nelo.MQTT.Texts.h"

std::string TNeloMQTTSubAckReturnCode::ToString() const {
  return TNeloMQTTCodecTexts::kAccepted + NeloBoolToStr(IsAccepted()) + TNeloMQTTCodecTexts::kMaxQoS +
         QoSToString(MaximumQoS());
}

TNeloMQTTSubAckPacket::TNeloMQTTSubAckPacket(uint16_t APacketID, TNeloMQTTSubAckReturnCodes AReturnCode)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtSUBACK),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)),
      FReturnCodes(std::move(AReturnCode)) {}

TNeloMQTTSubAckPacket::TNeloMQTTSubAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                             TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
  FCodesFromBytes = true;
}

const TNeloMQTTSubAckReturnCodes& TNeloMQTTSubAckPacket::ReturnCodes() const {
  if (FCodesFromBytes) {
    FCodesFromBytes = false;
    FReturnCodes.reserve(FRawBytes.size() - 2);
    for (size_t i = 2; i < FRawBytes.size(); ++i)
      FReturnCodes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(FRawBytes[i]));
  }
  return FReturnCodes;
}

std::size_t TNeloMQTTSubAckPacket::ReturnCodeCount() const {
  return FCodesFromBytes ? FRawBytes.size() - 2 : FReturnCodes.size();
}

TNeloMQTTSubAckReturnCode TNeloMQTTSubAckPacket::ReturnCode(std::size_t AIndex) const {
  if (FCodesFromBytes) return TNeloMQTTSubAckReturnCode(FRawBytes.at(AIndex + 2));
  const auto& code = FReturnCodes.at(AIndex);
  return code ? TNeloMQTTSubAckReturnCode(code->Byte()) : TNeloMQTTSubAckReturnCode(0x80);
}

TNeloMQTTSubAckPacket::~TNeloMQTTSubAckPacket() {
  for (auto& code : FReturnCodes) code.reset();
  FReturnCodes.clear();
}

std::string TNeloMQTTSubAckPacket::ToString() const {
  std::string result = TNeloMQTTPacket::ToString();
  for (const auto& code : ReturnCodes()) result += (code ? code->ToString() : std::string()) + "\r\n";
  return result;
}
