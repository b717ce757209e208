#include "Nelo.MQTT.Packets.SUBACK.h"

std::string TNeloMQTTSubAckReturnCode::ToString() const {
  return "Accepted:" + NeloBoolToStr(IsAccepted()) + " maxQoS:" + QoSToString(MaximumQoS());
}

TNeloMQTTSubAckPacket::TNeloMQTTSubAckPacket(uint16_t APacketID, TNeloMQTTSubAckReturnCodes AReturnCode)
    : TNeloMQTTPacket(std::make_unique<TNeloMQTTFixedHeader>(mtSUBACK),
                      std::make_unique<TNeloMQTTVariableHeader>(APacketID)),
      FReturnCodes(std::move(AReturnCode)) {}

TNeloMQTTSubAckPacket::TNeloMQTTSubAckPacket(std::unique_ptr<TNeloMQTTFixedHeader> AHeader,
                                             TNeloMQTTBytes ABytes)
    : TNeloMQTTPacket(std::move(AHeader), std::move(ABytes)) {
  ReadPacketIdHeader();
  FReturnCodes.reserve(FRawBytes.size() - 2);
  for (size_t i = 2; i < FRawBytes.size(); ++i)
    FReturnCodes.push_back(std::make_unique<TNeloMQTTSubAckReturnCode>(FRawBytes[i]));
}

TNeloMQTTSubAckPacket::~TNeloMQTTSubAckPacket() {
  for (auto& LCode : FReturnCodes) LCode.reset();
  FReturnCodes.clear();
}

std::string TNeloMQTTSubAckPacket::ToString() const {
  std::string LResult = TNeloMQTTPacket::ToString();
  for (const auto& LCode : FReturnCodes) LResult += (LCode ? LCode->ToString() : std::string()) + "\r\n";
  return LResult;
}
