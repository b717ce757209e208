// CONNACK: the broker's answer to CONNECT.
#pragma once

#include <memory>

#include "Nelo.MQTT.Packets.h"

// The CONNACK return codes. The underlying type is a byte so that a
// received code above 5 is kept as it is (it then names no enumerator).
enum TNeloMQTTConnectReturnCode : uint8_t {
  rcConAccepted = 0,
  rcConRejected_InvalidProtocolVersion = 1,
  rcConRejected_InvalidIdentifier = 2,
  rcConRejected_ServerUnavailable = 3,
  rcConRejected_InvalidCredentials = 4,
  rcConRejected_ClientNotAuthorized = 5
};

// Acknowledge flags byte, then the return-code byte.
class TNeloMQTTConnAckVariableHeader : public TNeloMQTTVariableHeader {
 public:
  TNeloMQTTConnAckVariableHeader();
  ~TNeloMQTTConnAckVariableHeader() override;
  std::string ClassName() const override { return "TNeloMQTTConnAckVariableHeader"; }

  TNeloMQTTBytes GetBytes() const override;

  // The flags byte as received: reserved bits 1-7 are neither checked nor cleared.
  TFlagsByte* ConnAckFlags() const { return FConnAckFlags.get(); }
  bool SessionPresent() const { return FConnAckFlags->GetFlag(0, 1) != 0; }
  void SetSessionPresent(bool AValue) { FConnAckFlags->SetFlag(0, 1, AValue ? 1 : 0); }
  TNeloMQTTConnectReturnCode ReturnCode() const {
    return static_cast<TNeloMQTTConnectReturnCode>(FReturnCodeByte);
  }
  void SetReturnCode(TNeloMQTTConnectReturnCode AValue) { FReturnCodeByte = static_cast<uint8_t>(AValue); }

 private:
  friend class TNeloMQTTConnAckPacket;
  std::unique_ptr<TFlagsByte> FConnAckFlags;
  uint8_t FReturnCodeByte = 0;
};

class TNeloMQTTConnAckPacket : public TNeloMQTTPacket {
 public:
  TNeloMQTTConnAckPacket(bool ASessionPresent, TNeloMQTTConnectReturnCode AReturnCode);
  // Reads the flags byte and the return code from the first two remaining
  // bytes; further bytes are ignored. Fewer than two raise "Could not read".
  TNeloMQTTConnAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTConnAckPacket"; }

  TNeloMQTTConnectReturnCode ReturnCode() const;
  // The broker kept a session for this client (bit 0 of the flags byte).
  bool SessionPresent() const;
};
