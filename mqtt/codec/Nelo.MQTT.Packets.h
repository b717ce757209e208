// The packet model: flag bytes, the fixed header, the variable header and the
// packet base class from which every MQTT control packet derives.
//
// A packet is a fixed header (first byte), an optional variable header and a
// payload produced on demand by the concrete class. GetBytes() assembles the
// wire form and inserts the remaining-length field behind the first byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.Utils.h"

// Boolean text of the debug renderings: "-1" for true, "0" for false.
std::string NeloBoolToStr(bool AValue);
// Identifiers of the enumerators, as they appear in debug renderings.
std::string PacketTypeToString(TNeloMQTTPacketType AValue);
std::string QoSToString(TNeloMQTTQoS AValue);

// One byte on the wire seen as bit fields. Offsets count from the least
// significant bit (offset 0 is the bit of value 0x01).
class TFlagsByte : public TNeloObject {
 public:
  explicit TFlagsByte(uint8_t AValue = 0) : FByte(AValue) {}
  std::string ClassName() const override { return "TFlagsByte"; }

  uint8_t Byte() const { return FByte; }
  void SetByte(uint8_t AValue) { FByte = AValue; }

  // (FByte >> AOffset) AND ((1 << ANrOfBits) - 1).
  int GetFlag(int AOffset, int ANrOfBits) const;
  // Stores AValue in the field; a value wider than the field raises the
  // assertion failure "Assertion failure" and leaves the byte unchanged.
  void SetFlag(int AOffset, int ANrOfBits, int AValue);

 protected:
  uint8_t FByte;
};

// The first byte of every MQTT packet: type in bits 4-7, DUP bit 3, QoS
// bits 1-2, RETAIN bit 0.
class TNeloMQTTFixedHeader : public TFlagsByte {
 public:
  // The byte exactly as received; nothing is validated.
  explicit TNeloMQTTFixedHeader(uint8_t AValue) : TFlagsByte(AValue) {}
  // Type only; PUBREL, SUBSCRIBE and UNSUBSCRIBE get the flag nibble 0010,
  // every other type 0000.
  explicit TNeloMQTTFixedHeader(TNeloMQTTPacketType APacketType);
  // All four fields, no special cases (used by PUBLISH).
  TNeloMQTTFixedHeader(TNeloMQTTPacketType APacketType, bool AIsDuplicate, TNeloMQTTQoS AQoS, bool ARetain);
  std::string ClassName() const override { return "TNeloMQTTFixedHeader"; }

  bool Retain() const { return GetFlag(0, 1) != 0; }
  void SetRetain(bool AValue) { SetFlag(0, 1, AValue ? 1 : 0); }
  TNeloMQTTQoS QoS() const { return static_cast<TNeloMQTTQoS>(GetFlag(1, 2)); }
  void SetQoS(TNeloMQTTQoS AValue) { SetFlag(1, 2, static_cast<int>(AValue)); }
  bool IsDuplicate() const { return GetFlag(3, 1) != 0; }
  void SetIsDuplicate(bool AValue) { SetFlag(3, 1, AValue ? 1 : 0); }
  TNeloMQTTPacketType PacketType() const { return static_cast<TNeloMQTTPacketType>(GetFlag(4, 4)); }
  void SetPacketType(TNeloMQTTPacketType AValue) { SetFlag(4, 4, static_cast<int>(AValue)); }

  // Four lines, each ended by CR LF:
  // "MessageType: mtPUBLISH", "IsDuplicate: 0", "Qos: qosAtLeastOnce", "Retain: 0".
  std::string ToString() const override;
};

// The variable header. The base class holds only the packet identifier
// (0 = none) and writes it as two bytes when it is not 0.
class TNeloMQTTVariableHeader : public TNeloObject {
 public:
  TNeloMQTTVariableHeader() = default;
  explicit TNeloMQTTVariableHeader(uint16_t APacketId) : FPacketID(APacketId) {}
  std::string ClassName() const override { return "TNeloMQTTVariableHeader"; }

  uint16_t PacketId() const { return FPacketID; }
  void SetPacketId(uint16_t AValue) { FPacketID = AValue; }

  // The wire bytes of the variable header.
  virtual TNeloMQTTBytes GetBytes() const;
  TNeloMQTTBytes Bytes() const { return GetBytes(); }
  // Assigning the bytes has no effect, in every variable header class.
  virtual void SetBytes(const TNeloMQTTBytes& AValue);
  // GetBytes().size() and appending GetBytes() to AOut, without the
  // intermediate array where a class can (used by the packet's GetBytes).
  virtual size_t BytesLength() const { return GetBytes().size(); }
  virtual void AppendBytes(TNeloMQTTBytes& AOut) const { AddBytes(AOut, GetBytes()); }

  // PacketId = ReadWord(ABytes, AIndex); raises "Could not read" when fewer
  // than two bytes are left.
  void ReadPacketId(const TNeloMQTTBytes& ABytes, int& AIndex);

  // "PacketId: 10" CR LF, or empty when the identifier is 0.
  std::string ToString() const override;

 protected:
  uint16_t FPacketID = 0;
};

// Base class of every control packet.
class TNeloMQTTPacket : public TNeloObject {
 public:
  // Parse constructor: takes ownership of AHeader (the received first byte)
  // and keeps ARemainingBytes as the raw bytes. The base class parses
  // nothing and creates no variable header; subclasses read theirs from the
  // raw bytes, starting at index 0.
  TNeloMQTTPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ARemainingBytes);
  ~TNeloMQTTPacket() override;
  TNeloMQTTPacket(const TNeloMQTTPacket&) = delete;
  TNeloMQTTPacket& operator=(const TNeloMQTTPacket&) = delete;
  std::string ClassName() const override { return "TNeloMQTTPacket"; }

  // The payload bytes; none in the base class.
  virtual TNeloMQTTBytes Payload() const;

  // The complete wire form: first byte, remaining length, variable header,
  // payload. A new array each time; the packet stays unchanged.
  TNeloMQTTBytes GetBytes() const;

  TNeloMQTTFixedHeader* FixedHeader() const { return FFixedHeader.get(); }
  void SetFixedHeader(std::unique_ptr<TNeloMQTTFixedHeader> AValue) { FFixedHeader = std::move(AValue); }
  TNeloMQTTVariableHeader* VariableHeader() const { return FVariableHeader.get(); }
  void SetVariableHeader(std::unique_ptr<TNeloMQTTVariableHeader> AValue) {
    FVariableHeader = std::move(AValue);
  }

  // Defaults when the header in question is absent: mtRESERVED0,
  // qosAtMostOnce, false, false, 0.
  TNeloMQTTPacketType PacketType() const;
  TNeloMQTTQoS QoS() const;
  bool IsDuplicate() const;
  bool IsRetained() const;
  uint16_t PacketId() const;

  // The remaining bytes a received packet was built from; empty for a
  // packet built from fields.
  const TNeloMQTTBytes& GetRawBytes() const { return FRawBytes; }

 protected:
  // Constructor from fields: the subclass supplies its headers.
  explicit TNeloMQTTPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                           std::unique_ptr<TNeloMQTTVariableHeader> AVariableHeader = nullptr);

  // The payload for GetBytes(). Classes that hold their payload as an array
  // return it without a copy; the default fills AScratch from Payload().
  virtual const TNeloMQTTBytes& PayloadForWire(TNeloMQTTBytes& AScratch) const;

  // Creates a base variable header and reads the packet identifier at
  // index 0 of the raw bytes (the acknowledgement packets' parse step).
  void ReadPacketIdHeader();

  // The variable header as the given class; raises ENeloMQTTError when it
  // is absent or of another class (what a checked cast would do).
  template <class T>
  T& VariableHeaderAs() const {
    auto* header = dynamic_cast<T*>(FVariableHeader.get());
    if (header == nullptr) ThrowInvalidCast(T().ClassName());
    return *header;
  }
  [[noreturn]] void ThrowInvalidCast(const std::string& AClassName) const;

  TNeloMQTTBytes FRawBytes;
  std::unique_ptr<TNeloMQTTFixedHeader> FFixedHeader;
  std::unique_ptr<TNeloMQTTVariableHeader> FVariableHeader;
};
