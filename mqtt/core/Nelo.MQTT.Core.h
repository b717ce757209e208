// The MQTT 3.1.1 client session as a state machine: bytes, time and the
// operator's commands in, actions out. No I/O, no threads, no clock: every
// input carries ANow, milliseconds of the caller's monotonic clock, and the
// core asks to be woken at NextDeadline().
//
// Actions go to a sink the driver implements (TNeloMQTTCoreSink), called
// synchronously from inside the input that caused them, in order:
//   CoreWrite         bytes to send. Always whole packets: one call carries
//                     one packet, never a piece of one (a driver may coalesce
//                     several calls into one socket write). The bytes are
//                     valid during the call only.
//   CoreClose         close the transport now (nothing is written after it
//                     until the next Connect/Reconnect).
//   CoreStatus        the connection status changed.
//   CoreDeliver       a received application message, as one value.
//   CoreAcknowledged  the broker finished one of our exchanges: a QoS 1/2
//                     publish (PUBACK / PUBCOMP), a subscribe (SUBACK with the
//                     granted QoS per filter), an unsubscribe (UNSUBACK), a
//                     ping (PINGRESP); or an exchange was given up.
//   CorePacketSent / CorePacketReceived
//                     one packet written / one packet taken in (what the
//                     seed client's OnPacketSent / OnPacketReceived report).
//   CoreLog           a log line with its fixed text (Nelo.MQTT.Core.Texts.h),
//                     built only when its level passes LogVerbosity().
// A sink call must not call back into the same core. The core is not
// thread-safe: its driver calls it from one thread at a time.
//
// The driver's part: open the transport and call Connect (the operator's
// connect) or Reconnect (an automatic one, only while ReconnectAllowed());
// feed what arrives to Received; call Tick when NextDeadline() has come;
// report TransportClosed when the transport ends; close the transport when
// told. Reconnect timing (the interval between attempts) is the driver's.
//
// Writes and the answer backlog: by default every CoreWrite counts as
// written when it returns (a driver that writes everything at once, or
// buffers without bound, needs nothing more). A driver with a bounded
// output buffer calls SetFlushTracking(true) and reports with Flushed(n)
// the bytes the transport has taken, in CoreWrite order; Received then
// stops taking frames (returns fewer bytes than it was given, always at a
// frame boundary) while kAnswerBacklog answers (PUBACK, PUBREC, PUBREL,
// PUBCOMP) are not yet flushed, and the driver offers the rest again after
// the next Flushed.
//
// Memory: an idle connected session keeps no large buffer, only containers
// of at most 64 bytes each for reuse; the state grows with what is open
// (publishes in flight or queued, subscriptions kept, received QoS 2 ids, a
// frame being received) and HeapBytes() tells how much it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "Nelo.MQTT.Core.Texts.h"
#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.LogLevel.h"

// A received application message, as it travels from the core to the
// drivers and the console.
struct TNeloMQTTMessage {
  std::string Topic;
  TNeloMQTTBytes Payload;
  TNeloMQTTQoS QoS = qosAtMostOnce;
  bool Retain = false;
  bool Dup = false;
  // 0 for QoS 0.
  uint16_t PacketId = 0;
};

// What a connection is opened with. The core reads it during Connect and
// Reconnect only and keeps none of its texts, so one options object may
// serve many sessions.
struct TNeloMQTTCoreOptions {
  // Not empty (the driver draws a random one when the operator gave none).
  std::string ClientId;
  bool CleanSession = true;
  // Announced in the CONNECT (seconds), whatever KeepConnectionAlive says.
  uint16_t KeepAliveInterval = 120;
  // Send a PINGREQ when nothing was written for KeepAliveInterval + 1 s, and
  // close when its PINGRESP does not come within max(KeepAliveInterval, 1) s.
  bool KeepConnectionAlive = true;
  std::string Username;
  // Sent only together with a user name (MQTT 3.1.1).
  std::string Password;
  // No will when empty; will QoS and retain only together with a will topic.
  std::string WillTopic;
  std::string WillMessage;
  bool WillRetain = false;
  TNeloMQTTQoS WillQoS = qosAtMostOnce;
};

// Why the core asks for the transport to be closed.
enum TNeloMQTTCoreCloseReason {
  crDisconnect,         // the operator's Disconnect (a DISCONNECT was written first when connected)
  crProtocolViolation,  // the broker broke MQTT 3.1.1 (logged at error level)
  crBrokenFrame,        // a remaining length that cannot be read, or a frame other than PUBLISH above the cap
  crConnAckTimeout,     // no CONNACK within ConnAckTimeoutMs
  crPingTimeout         // no PINGRESP within max(KeepAliveInterval, 1) s
};

enum TNeloMQTTCoreAckKind {
  akPublished,     // our QoS 1 PUBLISH got its PUBACK, our QoS 2 its PUBCOMP
  akSubscribed,    // SUBACK; Subscriptions holds one entry per filter, in request order
  akUnsubscribed,  // UNSUBACK
  akPingResponse,  // PINGRESP
  akGivenUp  // a QoS 1/2 exchange (PUBLISH, PUBREL, SUBSCRIBE, UNSUBSCRIBE) unanswered after its 10th send
};

struct TNeloMQTTCoreAck {
  TNeloMQTTCoreAckKind Kind = akPublished;
  uint16_t PacketId = 0;
  // akPublished / akGivenUp: the QoS of the publish (qosAtLeastOnce for
  // SUBSCRIBE / UNSUBSCRIBE given up). akGivenUp: PacketType says which.
  TNeloMQTTQoS QoS = qosAtMostOnce;
  TNeloMQTTPacketType PacketType = mtRESERVED0;
  // akSubscribed only (null otherwise); valid during the call.
  const TNeloMQTTSubscriptions* Subscriptions = nullptr;
};

class TNeloMQTTCoreSink {
 public:
  virtual ~TNeloMQTTCoreSink() = default;
  virtual void CoreWrite(const uint8_t* AData, std::size_t ASize) = 0;
  virtual void CoreClose(TNeloMQTTCoreCloseReason AReason) = 0;
  virtual void CoreStatus(TNeloMQTTConnectionStatus AStatus) { (void)AStatus; }
  // The driver may move the topic and payload out of AMessage.
  virtual void CoreDeliver(TNeloMQTTMessage& AMessage) { (void)AMessage; }
  virtual void CoreAcknowledged(const TNeloMQTTCoreAck& AAck) { (void)AAck; }
  // IsDuplicate is set for a resend; IsRetained is never set (as the seed
  // client reports its writer's sends).
  virtual void CorePacketSent(const TNeloMQTTPacketInfo& AInfo) { (void)AInfo; }
  // After the packet was acted on; also for packets only logged (a PINGREQ
  // or DISCONNECT of the broker's, ...). Not for frames that end the
  // connection.
  virtual void CorePacketReceived(const TNeloMQTTPacketInfo& AInfo) { (void)AInfo; }
  // AError: the error's own text (a parse failure, the violation found), or
  // null; the seed engine logs it as the error object of the line.
  virtual void CoreLog(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError) {
    (void)ALevel;
    (void)AText;
    (void)AError;
  }
};

class TNeloMQTTCore {
 public:
  static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();
  // Most exchanges open at once (publishes QoS 1/2 from PUBLISH to their
  // last acknowledgement, subscribes, unsubscribes); later ones wait in order.
  static constexpr int kInFlightWindow = 10;
  static constexpr int64_t kRetryIntervalMs = 10000;
  static constexpr int kMaxAttempts = 10;
  static constexpr int64_t kDefaultConnAckTimeoutMs = 5000;
  static constexpr uint32_t kDefaultMaxIncomingPacketSize = 64u * 1024 * 1024;
  // Unflushed answers at which Received stops taking frames (flush tracking).
  static constexpr int kAnswerBacklog = 64;

  explicit TNeloMQTTCore(TNeloMQTTCoreSink& ASink);
  ~TNeloMQTTCore();
  TNeloMQTTCore(const TNeloMQTTCore&) = delete;
  TNeloMQTTCore& operator=(const TNeloMQTTCore&) = delete;

  // ---- Settings (any time; they apply from the next input) ----
  // Largest remaining length taken from the broker. A larger PUBLISH is read
  // past without keeping its body, acknowledged as its QoS needs and
  // reported as refused at error level; any other larger frame closes.
  uint32_t MaxIncomingPacketSize() const { return FMaxIncomingPacketSize; }
  void SetMaxIncomingPacketSize(uint32_t AValue) { FMaxIncomingPacketSize = AValue; }
  int64_t ConnAckTimeoutMs() const { return FConnAckTimeoutMs; }
  void SetConnAckTimeoutMs(int64_t AValue) { FConnAckTimeoutMs = AValue; }
  // Lines above this level are not built (vINFO by default).
  TNeloMQTTLogLevel LogVerbosity() const { return static_cast<TNeloMQTTLogLevel>(FLogVerbosity); }
  void SetLogVerbosity(TNeloMQTTLogLevel AValue) { FLogVerbosity = static_cast<uint8_t>(AValue); }

  // ---- Inputs ----
  // The operator's connect, on a transport that has just opened: writes the
  // CONNECT (status csConnecting). With CleanSession the publishes queued
  // and not yet sent and the received QoS 2 ids are dropped (exchanges in
  // flight stay); the kept subscriptions are forgotten (a new connection of
  // the operator's keeps what it subscribes to from now on). Lifts a stop
  // of automatic reconnecting.
  void Connect(const TNeloMQTTCoreOptions& AOptions, int64_t ANow);
  // An automatic reconnect, on a transport that has just opened: writes the
  // CONNECT with the clean-session choice of the operator's last Connect
  // (status csReconnecting). After a CONNACK without session the kept
  // subscriptions are made again. Does nothing unless ReconnectAllowed().
  void Reconnect(const TNeloMQTTCoreOptions& AOptions, int64_t ANow);
  // Bytes from the broker, in any split. Returns how many were taken: all
  // of them, unless flush tracking holds the input back (see above) or the
  // session is closed (then all are taken and dropped).
  std::size_t Received(const uint8_t* AData, std::size_t ASize, int64_t ANow);
  // The transport ended (the peer closed, a reset, our own close): status
  // csConnectionLost when connected or connecting; the session is closed.
  void TransportClosed(int64_t ANow);
  // Queues an application message; returns its packet id (0 for QoS 0).
  // Sent at once when connected and the window allows, otherwise after the
  // next accepted CONNACK, in order. The topic is not validated here (the
  // driver checks the operator's input).
  uint16_t Publish(const std::string& ATopic, const uint8_t* APayload, std::size_t APayloadSize,
                   TNeloMQTTQoS AQos, bool ARetain, int64_t ANow);
  uint16_t Publish(const std::string& ATopic, const TNeloMQTTBytes& APayload, TNeloMQTTQoS AQos, bool ARetain,
                   int64_t ANow) {
    return Publish(ATopic, APayload.data(), APayload.size(), AQos, ARetain, ANow);
  }
  // Draws a packet id and leaves it unused (a publish refused by the
  // driver's checks still takes its id, as the seed client's did).
  void SkipPacketId() { NextPacketId(); }
  // One SUBSCRIBE for all filters (same length as the levels; filters not
  // validated here); returns its packet id. Granted filters are kept and
  // renewed after a reconnect without session.
  uint16_t Subscribe(const TNeloStringArray& ATopics, const TNeloQosArray& AQosLevels, int64_t ANow);
  // One UNSUBSCRIBE; the filters are no longer renewed. Returns its id.
  uint16_t Unsubscribe(const TNeloStringArray& ATopics, int64_t ANow);
  // The operator's disconnect: when connected, writes DISCONNECT and reports
  // csConnectionLost; then csNotConnected, CoreClose(crDisconnect) and no
  // automatic reconnect until the next Connect.
  void Disconnect(int64_t ANow);
  // Writes a PINGREQ when connected; otherwise nothing.
  void Ping(int64_t ANow);
  // Acts on every deadline that has come (CONNACK and PINGRESP time-outs,
  // keep-alive ping, resends).
  void Tick(int64_t ANow);
  // Status changes of the driver's own around the transport (for example
  // csConnecting before it opens, csConnectionRejected_ServerUnavailable when
  // it cannot open); reported through CoreStatus when it changes.
  void SetStatus(TNeloMQTTConnectionStatus AStatus);

  // ---- Flush tracking ----
  void SetFlushTracking(bool AOn);
  // The transport took ABytes more of what CoreWrite handed out.
  void Flushed(std::size_t ABytes);
  // Answers written and not yet flushed (0 without flush tracking).
  int PendingAnswers() const;
  // Received takes no frames now (flush tracking only).
  bool InputHeld() const { return PendingAnswers() >= kAnswerBacklog; }

  // ---- State ----
  TNeloMQTTConnectionStatus Status() const { return static_cast<TNeloMQTTConnectionStatus>(FStatus); }
  bool IsConnected() const { return Status() == csConnected; }
  // The core has a transport to write to (between Connect/Reconnect and the
  // close).
  bool IsOpen() const { return FOpen; }
  // False after the operator's Disconnect and after a CONNACK that refused
  // the credentials or the client (return codes 2, 4, 5), until the next
  // Connect. ReconnectStopped() tells the refusal apart.
  bool ReconnectAllowed() const { return !FStopped && !FReconnectStopped; }
  bool ReconnectStopped() const { return FReconnectStopped; }
  // Whether the CONNACK of the current connection said the broker kept the
  // session (false before it came).
  bool SessionPresent() const { return FSessionPresent; }
  // The earliest moment Tick has something to do; kNoDeadline when none.
  int64_t NextDeadline() const;
  // Exchanges open (counted against the window) and publishes waiting behind it.
  int InFlightCount() const { return static_cast<int>(FInFlight.size()); }
  int QueuedCount() const { return static_cast<int>(FQueue.size() - FQueueHead); }
  // Received QoS 2 ids waiting for their PUBREL.
  int HeldQoS2Count() const { return static_cast<int>(FIncomingQoS2.size()); }
  // Subscriptions renewed after a reconnect without session: (filter, QoS).
  const std::vector<std::pair<std::string, TNeloMQTTQoS>>& KeptSubscriptions() const { return FKept; }
  // Heap bytes the core holds now (capacities of its containers and texts);
  // for benchmarks and the fleet's accounting.
  std::size_t HeapBytes() const;

 private:
  // An exchange of ours: the whole packet as written (DUP set after the
  // first send of a PUBLISH), with its sends.
  struct TOut {
    TNeloMQTTBytes Bytes;
    int64_t LastAttempt = 0;
    uint16_t PacketId = 0;
    uint8_t Type = 0;  // TNeloMQTTPacketType
    uint8_t QoS = 0;   // of a PUBLISH; 1 for the others
    uint8_t Attempts = 0;
  };
  struct TSubRequest {
    uint16_t PacketId = 0;
    TNeloStringArray Topics;
    TNeloQosArray Levels;
  };
  enum TInState : uint8_t { isFirstByte, isLength, isBody, isSkipping };

  void Open(const TNeloMQTTCoreOptions& AOptions, bool AClean, int64_t ANow);
  // Forgets the connection's own state (frame being received, deadlines,
  // flush offsets) and marks the session closed.
  void ResetConnection();
  // Status csConnectionLost when connected or on the way there.
  void LoseConnection();
  void CloseWith(TNeloMQTTCoreCloseReason AReason);
  void ChangeStatus(TNeloMQTTConnectionStatus AStatus);
  bool Logs(TNeloMQTTLogLevel ALevel) const { return ALevel <= FLogVerbosity; }
  void Log(TNeloMQTTLogLevel ALevel, const std::string& AText, const char* AError = nullptr);
  void Write(const uint8_t* AData, std::size_t ASize, bool AAnswer, int64_t ANow);
  void WriteAnswer(TNeloMQTTPacketType AType, uint16_t APacketId, int64_t ANow);
  void WriteControl(TNeloMQTTPacketType AType, int64_t ANow);
  void SendOut(TOut& AOut, int64_t ANow);
  void Enqueue(TOut AOut, int64_t ANow);
  // Sends what the window lets through, in order.
  void Pump(int64_t ANow);
  // Resends what is due (AAll: everything in flight), gives up what has had
  // its sends.
  void ResendDue(int64_t ANow, bool AAll);
  int64_t PingAnswerMs() const;
  uint16_t NextPacketId();
  bool IdHeld(uint16_t AId) const;
  TOut* FindInFlight(TNeloMQTTPacketType AType, uint16_t AId);
  void RemoveInFlight(TOut* AOut);
  void Acknowledge(TNeloMQTTPacketType AType, uint16_t AId, TNeloMQTTCoreAckKind AKind, int64_t ANow);
  void ForgetSubRequest(uint16_t AId);
  // The remaining length is read; false when that closed the session.
  bool LengthKnown(int64_t ANow);
  void FrameDone(const uint8_t* ABody, std::size_t ASize, int64_t ANow);
  void Frame(uint8_t AFirst, const uint8_t* ABody, std::size_t ASize, int64_t ANow);
  bool HandlePublish(uint8_t AFirst, const uint8_t* ABody, std::size_t ASize, int64_t ANow);
  void OversizedPublishDone(int64_t ANow);
  void ConnAck(const uint8_t* ABody, int64_t ANow);
  void SubAck(uint16_t AId, const uint8_t* ACodes, std::size_t ACount, int64_t ANow);
  bool RememberQoS2(uint16_t AId);
  void ForgetQoS2(uint16_t AId);
  void Violation(const char* AWhat);
  void Renew(int64_t ANow);

  TNeloMQTTCoreSink& FSink;
  // Exchanges in flight, oldest first (at most kInFlightWindow, plus
  // renewals), and the queue behind the window (read from FQueueHead).
  std::vector<TOut> FInFlight;
  std::vector<TOut> FQueue;
  std::size_t FQueueHead = 0;
  std::vector<TSubRequest> FSubRequests;
  std::vector<std::pair<std::string, TNeloMQTTQoS>> FKept;
  // Sorted.
  std::vector<uint16_t> FIncomingQoS2;
  // Flush tracking: end offsets of answers not yet flushed.
  std::vector<uint64_t> FAnswerEnds;
  uint64_t FWrittenTotal = 0;
  uint64_t FFlushedTotal = 0;
  // The frame being received: the body so far (or, for a PUBLISH above the
  // cap, its topic and packet id), the bytes still to skip.
  TNeloMQTTBytes FBody;
  std::size_t FHeaderNeed = 0;
  uint32_t FLength = 0;
  uint32_t FSkip = 0;
  uint32_t FMaxIncomingPacketSize = kDefaultMaxIncomingPacketSize;
  int64_t FConnAckTimeoutMs = kDefaultConnAckTimeoutMs;
  int64_t FLastWrite = 0;
  int64_t FConnectSent = 0;
  int64_t FPingSent = 0;
  uint16_t FLastPacketId = 0;
  uint16_t FKeepAlive = 120;
  uint8_t FFirst = 0;
  uint8_t FLengthBytes = 0;
  TInState FInState = isFirstByte;
  uint8_t FStatus = csNotConnected;
  uint8_t FLogVerbosity = vINFO;
  bool FKeepConnectionAlive = true;
  bool FCleanSession = true;
  bool FOpen = false;
  bool FReconnecting = false;
  bool FConnAckSeen = false;
  bool FAwaitConnAck = false;
  bool FAwaitPing = false;
  bool FStopped = false;
  bool FReconnectStopped = false;
  bool FFlushTracking = false;
  bool FSessionPresent = false;
};
