#include "Nelo.MQTT.Packets.CONNECT.h"

namespace {

// Removes every leading and trailing character whose code is 0x20 or lower.
std::string TrimText(const std::string& AValue) {
  size_t LFirst = 0;
  size_t LLast = AValue.size();
  while (LFirst < LLast && static_cast<unsigned char>(AValue[LFirst]) <= 0x20) ++LFirst;
  while (LLast > LFirst && static_cast<unsigned char>(AValue[LLast - 1]) <= 0x20) --LLast;
  return AValue.substr(LFirst, LLast - LFirst);
}

}  // namespace

// ---- TNeloMQTTConnectVariableHeader -------------------------------------------

TNeloMQTTConnectVariableHeader::TNeloMQTTConnectVariableHeader()
    : TNeloMQTTVariableHeader(), FConnectFlags(std::make_unique<TNeloMQTTConnectFlags>(0)) {}

TNeloMQTTConnectVariableHeader::~TNeloMQTTConnectVariableHeader() { FConnectFlags.reset(); }

std::string TNeloMQTTConnectVariableHeader::ProtocolName() const {
  return FProtocolVersion == 4 ? "MQTT" : "";
}

TNeloMQTTBytes TNeloMQTTConnectVariableHeader::GetBytes() const {
  TNeloMQTTBytes LResult = TNeloMQTTVariableHeader::GetBytes();
  // The protocol name: one byte per character (for "MQTT" the same as UTF-8).
  AddLengthPrefixed(LResult, ProtocolName());
  AddByte(LResult, FProtocolVersion);
  AddByte(LResult, FConnectFlags->Byte());
  AddBytes(LResult, WordToBytes(FKeepAlive));
  return LResult;
}

// ---- TNeloMQTTConnectPacket -----------------------------------------------------

TNeloMQTTConnectPacket::TNeloMQTTConnectPacket(std::string AClientIdentifier)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtCONNECT),
                      std::make_unique<TNeloMQTTConnectVariableHeader>()),
      FClientIdentifier(std::move(AClientIdentifier)) {}

TNeloMQTTConnectPacket::TNeloMQTTConnectPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                               TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {}

TNeloMQTTConnectVariableHeader& TNeloMQTTConnectPacket::ConnectHeader() const {
  return VariableHeaderAs<TNeloMQTTConnectVariableHeader>();
}

TNeloMQTTBytes TNeloMQTTConnectPacket::Payload() const {
  TNeloMQTTBytes LResult;
  AddLengthPrefixed(LResult, FClientIdentifier);
  if (!FWillTopic.empty()) {
    AddLengthPrefixed(LResult, FWillTopic);
    AddLengthPrefixed(LResult, FWillMessage);
  }
  if (!FUserName.empty()) AddLengthPrefixed(LResult, FUserName);
  if (!FPassword.empty()) AddLengthPrefixed(LResult, FPassword);
  return LResult;
}

bool TNeloMQTTConnectPacket::CleanSession() const { return Flags().CleanSession(); }
void TNeloMQTTConnectPacket::SetCleanSession(bool AValue) { Flags().SetCleanSession(AValue); }

void TNeloMQTTConnectPacket::SetUserName(const std::string& AValue) {
  auto& LFlags = Flags();
  FUserName = TrimText(AValue);
  LFlags.SetHasUserName(!FUserName.empty());
}

void TNeloMQTTConnectPacket::SetPassword(const std::string& AValue) {
  auto& LFlags = Flags();
  FPassword = TrimText(AValue);
  LFlags.SetHasPassword(!FPassword.empty());
}

void TNeloMQTTConnectPacket::SetWillTopic(const std::string& AValue) {
  auto& LFlags = Flags();
  FWillTopic = TrimText(AValue);
  LFlags.SetWillFlag(!FWillTopic.empty());
}

bool TNeloMQTTConnectPacket::WillRetain() const { return Flags().WillRetain(); }
void TNeloMQTTConnectPacket::SetWillRetain(bool AValue) { Flags().SetWillRetain(AValue); }
TNeloMQTTQoS TNeloMQTTConnectPacket::WillQoS() const { return Flags().WillQoS(); }
void TNeloMQTTConnectPacket::SetWillQoS(TNeloMQTTQoS AValue) { Flags().SetWillQoS(AValue); }
uint16_t TNeloMQTTConnectPacket::KeepAlive() const { return ConnectHeader().KeepAlive(); }
void TNeloMQTTConnectPacket::SetKeepAlive(uint16_t AValue) { ConnectHeader().SetKeepAlive(AValue); }
