// The engine's fixed log texts, in one place.
//
// These are the program's fixed texts: operators' log filters and alerting
// rules match them byte for byte, spelling, spacing and dashes included
// ("Handeling", "TODO EVENT", "PING Failed" are meant as they stand). Do not
// correct, reword or re-space them; a new situation gets a new text.
#pragma once

struct TNeloMQTTEngineTexts {
  // Client
  static constexpr const char* kConnecting = "CLIENT- Connecting --------------------------- ";
  static constexpr const char* kClosingPrevious =
      "CLIENT- Closing previous connection --------------------------- ";
  static constexpr const char* kFailedToConnect = "Failed to connect";
  static constexpr const char* kDisconnecting = "CLIENT- Disconnecting --------------------------- ";
  static constexpr const char* kHandlingOutgoing =
      "CLIENT- Handeling Outgoing Packet --------------------------- ";
  static constexpr const char* kSendingDirectly =
      "CLIENT- Sending packet directly to Connection --------------------------- ";
  static constexpr const char* kSendingToWriter =
      "CLIENT- Sending packet to WriterThread --------------------------- ";
  static constexpr const char* kPacketAdded = "CLIENT- Packet added to queue --------------------------- ";
  static constexpr const char* kFailedOutgoing = "Failed to handle outgoing packet";
  static constexpr const char* kPingFailed = "PING Failed";
  static constexpr const char* kSubscribeFailed = "Subscribe Failed";
  static constexpr const char* kFailedIncomingPublish = "Failed to process incoming publish packet";
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
  static constexpr const char* kDirectSendSkipped =
      "CLIENT- Direct send skipped, the connection is busy or stalled";
  static constexpr const char* kProtocolViolation =
      "CLIENT- Protocol violation by the broker, closing the connection";
  static constexpr const char* kConnAckTimeout =
      "CLIENT- No CONNACK within the connect time-out, closing the connection";
  static constexpr const char* kPingTimeout =
      "CLIENT- No PINGRESP within the keep-alive interval, closing the connection";
  static constexpr const char* kSubscribingAgain =
      "CLIENT- No session kept by the broker, subscribing again: ";

  // Threads
  static constexpr const char* kThreadStarted = "Thread Started";
  static constexpr const char* kThreadStopped = "Thread Stopped";
  static constexpr const char* kThreadPassFailed = "Thread pass failed";
  static constexpr const char* kInDisconnected = "IN - Disconnected";
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
  static constexpr const char* kOutQoS0Sending = "OUT - Packet Qos:0 - SENDING";
  static constexpr const char* kOutPacket = "OUT - Packet: ";
  static constexpr const char* kOutQoS1 = " Qos:1";
  static constexpr const char* kOutQoS2 = " Qos:2";
  static constexpr const char* kOutAcknowledged = " - ACKNOWLEDGED";
  static constexpr const char* kOutSendingAttempt = " - SENDING - attempt: ";
  static constexpr const char* kOutQoS1Failed = " Qos:1 - PACKET FAILED TO SEND ------------- ";
  static constexpr const char* kOutQoS2Failed = " Qos:2 - PACKET FAILED TO SEND: TODO EVENT ------------- ";
  static constexpr const char* kOutWriteException = "OUT - Write exception";
  static constexpr const char* kOutRefused = "OUT - Packet refused";
  static constexpr const char* kOutSentNotificationFailed = "OUT - Packet sent notification failed";
  static constexpr const char* kKeepAliveReconnect = "KEEP ALIVE - No Connection. Requesting Reconnect.";
  static constexpr const char* kKeepAlivePing =
      "KEEP ALIVE - No activity within the given interval. Requesting Ping to keep connection alive.";
  static constexpr const char* kKeepAliveReconnectFailed = "KEEP ALIVE - Reconnect request failed";
  static constexpr const char* kKeepAlivePingFailed = "KEEP ALIVE - Ping request failed";
  static constexpr const char* kKeepAliveCloseFailed = "KEEP ALIVE - Close request failed";

  // Transport
  static constexpr const char* kTcpInitializing = "Initializing TCP Client";
  static constexpr const char* kTcpConnecting = "Connecting TCP Client";
  static constexpr const char* kSocketAllocated = "Socket allocated ... ";
  static constexpr const char* kStatusResolving = " - resolving...";
  static constexpr const char* kStatusConnecting = " - connecting...";
  static constexpr const char* kStatusConnected = " - connected...";
  static constexpr const char* kStatusDisconnecting = " - disconnecting...";
  static constexpr const char* kStatusDisconnected = " - disconnected .. .";
  static constexpr const char* kConnectionOpened = "Connection opened";
  static constexpr const char* kConnectionClosed = "Connection closed by remote host";
  static constexpr const char* kConnectException = "Exception while connecting ...";
  // A poll for input met an error other than the peer closing (a TLS alert,
  // for one): the connection is closed.
  static constexpr const char* kReadException = "Exception while reading ...";
  static constexpr const char* kTcpDisconnecting = "Disconnecting TCP Client";
};
