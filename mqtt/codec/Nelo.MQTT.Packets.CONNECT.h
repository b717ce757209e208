// CONNECT: the first packet of every connection (MQTT 3.1.1 protocol
// name "MQTT", level 4).
#pragma once

#include <memory>
#include <string>

#include "Nelo.MQTT.Packets.h"

// The connect flags byte. Bit 0 is reserved and never set.
class TNeloMQTTConnectFlags : public TFlagsByte {
 public:
  explicit TNeloMQTTConnectFlags(uint8_t AValue = 0) : TFlagsByte(AValue) {}
  std::string ClassName() const override { return "TNeloMQTTConnectFlags"; }

  bool CleanSession() const { return GetFlag(1, 1) != 0; }
  void SetCleanSession(bool AValue) { SetFlag(1, 1, AValue ? 1 : 0); }
  bool WillFlag() const { return GetFlag(2, 1) != 0; }
  void SetWillFlag(bool AValue) { SetFlag(2, 1, AValue ? 1 : 0); }
  TNeloMQTTQoS WillQoS() const { return static_cast<TNeloMQTTQoS>(GetFlag(3, 2)); }
  void SetWillQoS(TNeloMQTTQoS AValue) { SetFlag(3, 2, static_cast<int>(AValue)); }
  bool WillRetain() const { return GetFlag(5, 1) != 0; }
  void SetWillRetain(bool AValue) { SetFlag(5, 1, AValue ? 1 : 0); }
  bool HasUserName() const { return GetFlag(7, 1) != 0; }
  void SetHasUserName(bool AValue) { SetFlag(7, 1, AValue ? 1 : 0); }
  bool HasPassword() const { return GetFlag(6, 1) != 0; }
  void SetHasPassword(bool AValue) { SetFlag(6, 1, AValue ? 1 : 0); }
};

// Protocol name, protocol level, connect flags and keep-alive (ten bytes).
class TNeloMQTTConnectVariableHeader : public TNeloMQTTVariableHeader {
 public:
  TNeloMQTTConnectVariableHeader();
  ~TNeloMQTTConnectVariableHeader() override;
  std::string ClassName() const override { return "TNeloMQTTConnectVariableHeader"; }

  TNeloMQTTBytes GetBytes() const override;

  // "MQTT" for protocol level 4, the only level this class holds.
  std::string ProtocolName() const;
  uint16_t KeepAlive() const { return FKeepAlive; }
  void SetKeepAlive(uint16_t AValue) { FKeepAlive = AValue; }
  TNeloMQTTConnectFlags* ConnectFlags() const { return FConnectFlags.get(); }

 private:
  std::unique_ptr<TNeloMQTTConnectFlags> FConnectFlags;
  uint16_t FKeepAlive = 0;
  uint8_t FProtocolVersion = 4;
};

class TNeloMQTTConnectPacket : public TNeloMQTTPacket {
 public:
  // A CONNECT to be sent: packet identifier 0, level 4, flags 0, keep-alive 0.
  explicit TNeloMQTTConnectPacket(std::string AClientIdentifier);
  // A received CONNECT (only a server receives one): nothing is parsed, the
  // packet has no variable header. Its connect-specific accessors (those
  // that go through the connect flags or the keep-alive) raise
  // ENeloMQTTError instead of reading a header that is not there.
  TNeloMQTTConnectPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  std::string ClassName() const override { return "TNeloMQTTConnectPacket"; }

  // Client identifier; will topic and message (only with a will topic);
  // user name and password (each only when not empty), all length-prefixed.
  TNeloMQTTBytes Payload() const override;

  const std::string& ClientIdentifier() const { return FClientIdentifier; }
  bool CleanSession() const;
  void SetCleanSession(bool AValue);
  // The setters of user name, password and will topic trim the value
  // (every leading and trailing character <= 0x20) and set the matching flag
  // when the stored text is not empty.
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue);
  const std::string& WillTopic() const { return FWillTopic; }
  void SetWillTopic(const std::string& AValue);
  // Stored unchanged.
  const std::string& WillMessage() const { return FWillMessage; }
  void SetWillMessage(const std::string& AValue) { FWillMessage = AValue; }
  bool WillRetain() const;
  void SetWillRetain(bool AValue);
  TNeloMQTTQoS WillQoS() const;
  void SetWillQoS(TNeloMQTTQoS AValue);
  uint16_t KeepAlive() const;
  void SetKeepAlive(uint16_t AValue);

 private:
  TNeloMQTTConnectVariableHeader& ConnectHeader() const;
  TNeloMQTTConnectFlags& Flags() const { return *ConnectHeader().ConnectFlags(); }

  std::string FUserName;
  std::string FPassword;
  std::string FClientIdentifier;
  std::string FWillTopic;
  std::string FWillMessage;
};
