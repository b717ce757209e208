#include "Nelo.MQTT.Packets.CONNACK.h"

TNeloMQTTConnAckVariableHeader::TNeloMQTTConnAckVariableHeader()
    : TNeloMQTTVariableHeader(), FConnAckFlags(std::make_unique<TFlagsByte>(0)) {}

TNeloMQTTConnAckVariableHeader::~TNeloMQTTConnAckVariableHeader() { FConnAckFlags.reset(); }

TNeloMQTTBytes TNeloMQTTConnAckVariableHeader::GetBytes() const {
  TNeloMQTTBytes LResult = TNeloMQTTVariableHeader::GetBytes();
  AddByte(LResult, FConnAckFlags->Byte());
  AddByte(LResult, FReturnCodeByte);
  return LResult;
}

TNeloMQTTConnAckPacket::TNeloMQTTConnAckPacket(bool ASessionPresent, TNeloMQTTConnectReturnCode AReturnCode)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtCONNACK)) {
  auto LHeader = std::make_unique<TNeloMQTTConnAckVariableHeader>();
  LHeader->SetSessionPresent(ASessionPresent);
  LHeader->SetReturnCode(AReturnCode);
  FVariableHeader = std::move(LHeader);
}

TNeloMQTTConnAckPacket::TNeloMQTTConnAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                               TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  // Never read past a short body.
  if (FRawBytes.size() < 2) throw ENeloMQTTError("Could not read");
  auto LHeader = std::make_unique<TNeloMQTTConnAckVariableHeader>();
  LHeader->FConnAckFlags->SetByte(FRawBytes[0]);
  LHeader->FReturnCodeByte = FRawBytes[1];
  FVariableHeader = std::move(LHeader);
}

TNeloMQTTConnectReturnCode TNeloMQTTConnAckPacket::ReturnCode() const {
  return VariableHeaderAs<TNeloMQTTConnAckVariableHeader>().ReturnCode();
}

bool TNeloMQTTConnAckPacket::SessionPresent() const {
  return VariableHeaderAs<TNeloMQTTConnAckVariableHeader>().SessionPresent();
}
