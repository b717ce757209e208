#include "Nelo.MQTT.Packets.CONNACK.h"

#include "Nelo.MQTT.Texts.h"

TNeloMQTTConnAckVariableHeader::TNeloMQTTConnAckVariableHeader()
    : TNeloMQTTVariableHeader(), FConnAckFlags(std::make_unique<TFlagsByte>(0)) {}

TNeloMQTTConnAckVariableHeader::~TNeloMQTTConnAckVariableHeader() { FConnAckFlags.reset(); }

TNeloMQTTBytes TNeloMQTTConnAckVariableHeader::GetBytes() const {
  TNeloMQTTBytes result = TNeloMQTTVariableHeader::GetBytes();
  AddByte(result, FConnAckFlags->Byte());
  AddByte(result, FReturnCodeByte);
  return result;
}

TNeloMQTTConnAckPacket::TNeloMQTTConnAckPacket(bool ASessionPresent, TNeloMQTTConnectReturnCode AReturnCode)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtCONNACK)) {
  auto header = std::make_unique<TNeloMQTTConnAckVariableHeader>();
  header->SetSessionPresent(ASessionPresent);
  header->SetReturnCode(AReturnCode);
  FVariableHeader = std::move(header);
}

TNeloMQTTConnAckPacket::TNeloMQTTConnAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                               TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  // Never read past a short body.
  if (FRawBytes.size() < 2) throw ENeloMQTTError(TNeloMQTTCodecTexts::kCouldNotRead);
  auto header = std::make_unique<TNeloMQTTConnAckVariableHeader>();
  header->FConnAckFlags->SetByte(FRawBytes[0]);
  header->FReturnCodeByte = FRawBytes[1];
  FVariableHeader = std::move(header);
}

TNeloMQTTConnectReturnCode TNeloMQTTConnAckPacket::ReturnCode() const {
  return VariableHeaderAs<TNeloMQTTConnAckVariableHeader>().ReturnCode();
}

bool TNeloMQTTConnAckPacket::SessionPresent() const {
  return VariableHeaderAs<TNeloMQTTConnAckVariableHeader>().SessionPresent();
}
