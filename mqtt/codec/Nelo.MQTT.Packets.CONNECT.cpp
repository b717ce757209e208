#include "Nelo.MQTT.Packets.CONNECT.h"

namespace {

// Removes every leading and trailing character whose code is 0x20 or lower.
std::string TrimText(const std::string& AValue) {
  size_t first = 0;
  size_t last = AValue.size();
  while (first < last && static_cast<unsigned char>(AValue[first]) <= 0x20) ++first;
  while (last > first && static_cast<unsigned char>(AValue[last - 1]) <= 0x20) --last;
  return AValue.substr(first, last - first);
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
  TNeloMQTTBytes result = TNeloMQTTVariableHeader::GetBytes();
  // The protocol name: one byte per character (for "MQTT" the same as UTF-8).
  AddLengthPrefixed(result, ProtocolName());
  AddByte(result, FProtocolVersion);
  AddByte(result, FConnectFlags->Byte());
  AddBytes(result, WordToBytes(FKeepAlive));
  return result;
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
  TNeloMQTTBytes result;
  AddLengthPrefixed(result, FClientIdentifier);
  if (!FWillTopic.empty()) {
    AddLengthPrefixed(result, FWillTopic);
    AddLengthPrefixed(result, FWillMessage);
  }
  if (!FUserName.empty()) AddLengthPrefixed(result, FUserName);
  if (!FPassword.empty()) AddLengthPrefixed(result, FPassword);
  return result;
}

bool TNeloMQTTConnectPacket::CleanSession() const { return Flags().CleanSession(); }
void TNeloMQTTConnectPacket::SetCleanSession(bool AValue) { Flags().SetCleanSession(AValue); }

void TNeloMQTTConnectPacket::SetUserName(const std::string& AValue) {
  auto& flags = Flags();
  FUserName = TrimText(AValue);
  flags.SetHasUserName(!FUserName.empty());
}

void TNeloMQTTConnectPacket::SetPassword(const std::string& AValue) {
  auto& flags = Flags();
  FPassword = TrimText(AValue);
  flags.SetHasPassword(!FPassword.empty());
}

void TNeloMQTTConnectPacket::SetWillTopic(const std::string& AValue) {
  auto& flags = Flags();
  FWillTopic = TrimText(AValue);
  flags.SetWillFlag(!FWillTopic.empty());
}

bool TNeloMQTTConnectPacket::WillRetain() const { return Flags().WillRetain(); }
void TNeloMQTTConnectPacket::SetWillRetain(bool AValue) { Flags().SetWillRetain(AValue); }
TNeloMQTTQoS TNeloMQTTConnectPacket::WillQoS() const { return Flags().WillQoS(); }
void TNeloMQTTConnectPacket::SetWillQoS(TNeloMQTTQoS AValue) { Flags().SetWillQoS(AValue); }
uint16_t TNeloMQTTConnectPacket::KeepAlive() const { return ConnectHeader().KeepAlive(); }
void TNeloMQTTConnectPacket::SetKeepAlive(uint16_t AValue) { ConnectHeader().SetKeepAlive(AValue); }
