// SUBACK: the broker's answer to SUBSCRIBE, one return code per filter.
#pragma once

#include <memory>
#include <vector>

#include "Nelo.MQTT.Packets.h"

// One return-code byte: bit 7 set means the filter was refused, bits 0-1
// are the granted QoS. Bits 2-6 are kept as received.
class TNeloMQTTSubAckReturnCode : public TFlagsByte {
 public:
  explicit TNeloMQTTSubAckReturnCode(uint8_t AValue = 0) : TFlagsByte(AValue) {}
  std::string ClassName() const override { return "TNeloMQTTSubAckReturnCode"; }

  bool IsAccepted() const { return GetFlag(7, 1) == 0; }
  void SetIsAccepted(bool AValue) { SetFlag(7, 1, AValue ? 0 : 1); }
  TNeloMQTTQoS MaximumQoS() const { return static_cast<TNeloMQTTQoS>(GetFlag(0, 2)); }
  void SetMaximumQoS(TNeloMQTTQoS AValue) { SetFlag(0, 2, static_cast<int>(AValue)); }

  // "Accepted:-1 maxQoS:qosAtLeastOnce" (no line end).
  std::string ToString() const override;
};

using TNeloMQTTSubAckReturnCodes = std::vector<std::unique_ptr<TNeloMQTTSubAckReturnCode>>;

class TNeloMQTTSubAckPacket : public TNeloMQTTPacket {
 public:
  // The packet owns the return codes from now on. Serialising writes none
  // (only a broker sends a SUBACK).
  TNeloMQTTSubAckPacket(uint16_t APacketID, TNeloMQTTSubAckReturnCodes AReturnCode);
  // Packet identifier from the first two remaining bytes ("Could not read"
  // with fewer), then one return code per further byte.
  TNeloMQTTSubAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader, TNeloMQTTBytes ABytes);
  ~TNeloMQTTSubAckPacket() override;
  std::string ClassName() const override { return "TNeloMQTTSubAckPacket"; }

  // The codes as objects, made on first use (a received SUBACK keeps only
  // its bytes, so its memory stays proportional to its size).
  const TNeloMQTTSubAckReturnCodes& ReturnCodes() const;
  std::size_t ReturnCodeCount() const;
  TNeloMQTTSubAckReturnCode ReturnCode(std::size_t AIndex) const;

  // The class name immediately followed by each code's text and CR LF.
  std::string ToString() const override;

 private:
  mutable TNeloMQTTSubAckReturnCodes FReturnCodes;
  // Received: the codes are FRawBytes from offset 2 until ReturnCodes() is called.
  mutable bool FCodesFromBytes = false;
};
