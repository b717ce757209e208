// The engine's fixed log texts, in one place.
//
// These are the program's fixed texts: operators' log filters and alerting
// rules match them byte for byte, spelling, spacing and dashes included
// ("Handeling", "TODO EVENT", "PING Failed" are meant as they stand). Do not
// correct, reword or re-space them; a new situation gets a new text.
#pragma once

#include "Nelo.MQTT.Core.Texts.h"

// The protocol core's texts (TNeloMQTTCoreTexts) are reached through this
// struct as well.
struct TNeloMQTTEngineTexts : TNeloMQTTCoreTexts {
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
  static constexpr const char* kDirectSendSkipped =
      "CLIENT- Direct send skipped, the connection is busy or stalled";

  // Threads
  static constexpr const char* kThreadStarted = "Thread Started";
  static constexpr const char* kThreadStopped = "Thread Stopped";
  static constexpr const char* kThreadPassFailed = "Thread pass failed";
  static constexpr const char* kInDisconnected = "IN - Disconnected";
  static constexpr const char* kOutWriteException = "OUT - Write exception";
  static constexpr const char* kOutRefused = "OUT - Packet refused";
  static constexpr const char* kOutSentNotificationFailed = "OUT - Packet sent notification failed";
  static constexpr const char* kKeepAliveReconnect = "KEEP ALIVE - No Connection. Requesting Reconnect.";
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
