// The protocol core's fixed log texts, in one place.
//
// These are the program's fixed texts: operators' log filters and alerting
// rules match them byte for byte, spelling, spacing and dashes included
// ("TODO EVENT" is meant as it stands). Do not correct, reword or re-space
// them; a new situation gets a new text. The engine's own texts
// (TNeloMQTTEngineTexts) include these, so both name them the same way.
#pragma once

struct TNeloMQTTCoreTexts {
  // Received packets a client must never get
  static constexpr const char* kInvalidTypeReserved0 =
      "Received Packet with invalid Packet Type - mtRESERVED0";
  static constexpr const char* kInvalidTypeConnect = "Received Packet with invalid Packet Type - mtCONNECT";
  static constexpr const char* kInvalidTypeSubscribe =
      "Received Packet with invalid Packet Type - mtSUBSCRIBE";
  static constexpr const char* kInvalidTypeUnsubscribe =
      "Received Packet with invalid Packet Type - mtUNSUBSCRIBE";
  static constexpr const char* kInvalidTypeDisconnect =
      "Received Packet with invalid Packet Type - mtDISCONNECT";
  static constexpr const char* kInvalidTypeReserved15 =
      "Received Packet with invalid Packet Type - mtRESERVED15";
  // Connection
  static constexpr const char* kProtocolViolation =
      "CLIENT- Protocol violation by the broker, closing the connection";
  static constexpr const char* kConnAckTimeout =
      "CLIENT- No CONNACK within the connect time-out, closing the connection";
  static constexpr const char* kPingTimeout =
      "CLIENT- No PINGRESP within the keep-alive interval, closing the connection";
  static constexpr const char* kSubscribingAgain =
      "CLIENT- No session kept by the broker, subscribing again: ";
  static constexpr const char* kReconnectStopped =
      "CLIENT- The broker refused the credentials or the client, no automatic reconnect until the next "
      "Connect: return code ";
  static constexpr const char* kRefusedTooLarge =
      "CLIENT- Message above MaxIncomingPacketSize refused (acknowledged, not delivered): ";
  // Reading
  static constexpr const char* kInDataDetected = "IN - Incoming data detected -- Getting First Byte";
  static constexpr const char* kInFirstByte = "IN - First Byte";
  static constexpr const char* kInReadingLength = "IN - Reading Remaining length";
  static constexpr const char* kInLengthByte = "IN - RL byte";
  static constexpr const char* kInGotLength = "IN - Got Remaining length --> ";
  static constexpr const char* kInStartReading = "IN - Start reading ";
  static constexpr const char* kInBytesSuffix = " bytes";
  static constexpr const char* kInEndReading = "IN - End reading bytes. Resulting length: ";
  static constexpr const char* kInQueued = "IN - Bytes added to incoming messages queue";
  static constexpr const char* kInReadException = "IN - Read exception";
  // Writing
  static constexpr const char* kOutQoS0Sending = "OUT - Packet Qos:0 - SENDING";
  static constexpr const char* kOutPacket = "OUT - Packet: ";
  static constexpr const char* kOutQoS1 = " Qos:1";
  static constexpr const char* kOutQoS2 = " Qos:2";
  static constexpr const char* kOutAcknowledged = " - ACKNOWLEDGED";
  static constexpr const char* kOutSendingAttempt = " - SENDING - attempt: ";
  static constexpr const char* kOutQoS1Failed = " Qos:1 - PACKET FAILED TO SEND ------------- ";
  static constexpr const char* kOutQoS2Failed = " Qos:2 - PACKET FAILED TO SEND: TODO EVENT ------------- ";
  // Keep-alive
  static constexpr const char* kKeepAlivePing =
      "KEEP ALIVE - No activity within the given interval. Requesting Ping to keep connection alive.";
};
