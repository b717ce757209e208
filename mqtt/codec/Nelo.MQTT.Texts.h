// The codec's fixed texts, in one place.
//
// These are the program's fixed texts: error messages and the packet
// descriptions that end up in logs, where operators' filters match them byte
// for byte ("RESERVED PACKET TYPE", "Error Creating subscribe packet", the
// "Qos: " and "Accepted:" field names are meant as they stand). Do not
// correct, reword or re-space them; a new situation gets a new text.
#pragma once

struct TNeloMQTTCodecTexts {
  // Errors
  static constexpr const char* kCouldNotRead = "Could not read";
  static constexpr const char* kReservedPacketType = "RESERVED PACKET TYPE";
  static constexpr const char* kSubscribeCountMismatch =
      "Error Creating subscribe packet - amount of provided Topics does not match the amount of QoSLevels";
  // Packet descriptions (ToString)
  static constexpr const char* kMessageType = "MessageType: ";
  static constexpr const char* kIsDuplicate = "IsDuplicate: ";
  static constexpr const char* kQos = "Qos: ";
  static constexpr const char* kRetain = "Retain: ";
  static constexpr const char* kPacketId = "PacketId: ";
  static constexpr const char* kAccepted = "Accepted:";
  static constexpr const char* kMaxQoS = " maxQoS:";
};
