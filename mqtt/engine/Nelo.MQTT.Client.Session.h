// State shared between the client and its reader, writer and keep-alive
// threads: packet ids, the outgoing queue, the in-flight list, the incoming
// queue, the acknowledgement lists, the subscription requests, the connection
// flags and the communication timestamps.
//
// Lock order: the in-flight lock may be held while the outgoing lock is
// taken; no other session lock is taken while one is held. The lists are
// reached only through the operations below, which keep that order. Flags and
// timestamps are atomics, read and written whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.Internal.Collections.h"

// An outgoing packet as the writer sees it: the serialised bytes plus the
// bookkeeping of its sends. Times are milliseconds of the engine clock.
class TQueuedOutPacket {
 public:
  TQueuedOutPacket(uint16_t APacketID, TNeloMQTTQoS AQos, TNeloMQTTPacketType APacketType,
                   TNeloMQTTBytes APacket);

  const TNeloMQTTBytes& Packet() const { return FPacket; }
  TNeloMQTTQoS Qos() const { return FQos; }
  uint16_t PacketId() const { return FPacketId; }
  int Attempt() const { return FAttempt; }
  int64_t LastAttempt() const { return FLastAttempt; }
  TNeloMQTTPacketType PacketType() const { return FPacketType; }

  // One more send: counts it, stamps it and, for a PUBLISH, sets the DUP bit
  // in the stored first byte so every later send is marked as a duplicate.
  void RegisterAttempt();
  // The same, for a send that began at ANow (engine clock).
  void RegisterAttempt(int64_t ANow);

 private:
  TNeloMQTTBytes FPacket;
  TNeloMQTTQoS FQos;
  uint16_t FPacketId;
  int FAttempt = 0;
  int64_t FLastAttempt = 0;
  TNeloMQTTPacketType FPacketType;
};

// A received frame before decoding: its first byte and the bytes after the
// remaining-length field.
class TQueuedInPacket {
 public:
  TQueuedInPacket(uint8_t AFirstByte, TNeloMQTTBytes ABuffer)
      : FFirstByte(AFirstByte), FBuffer(std::move(ABuffer)) {}
  uint8_t FirstByte() const { return FFirstByte; }
  const TNeloMQTTBytes& Buffer() const { return FBuffer; }
  void SetBuffer(TNeloMQTTBytes ABuffer) { FBuffer = std::move(ABuffer); }

 private:
  uint8_t FFirstByte;
  TNeloMQTTBytes FBuffer;
};

using TNeloMQTTPacketsOutLockList = TNeloMQTTOwnedLockList<TQueuedOutPacket>;
using TNeloMQTTPacketsInLockList = TNeloMQTTOwnedLockList<TQueuedInPacket>;
class TNeloMQTTPacketsOutThreadList : public TNeloMQTTThreadList<TNeloMQTTPacketsOutLockList> {};
class TNeloMQTTPacketsInThreadList : public TNeloMQTTThreadList<TNeloMQTTPacketsInLockList> {};

class TNeloMQTTNeloMQTTClientSession {
 public:
  TNeloMQTTNeloMQTTClientSession();
  ~TNeloMQTTNeloMQTTClientSession();
  TNeloMQTTNeloMQTTClientSession(const TNeloMQTTNeloMQTTClientSession&) = delete;
  TNeloMQTTNeloMQTTClientSession& operator=(const TNeloMQTTNeloMQTTClientSession&) = delete;

  // 1, 2, ..., 65535, 1, ...; never 0. Skips ids still held by a packet that
  // is queued or waiting for its acknowledgement (unless every id is held).
  // Main thread only.
  uint16_t GetNextPacketId();

  int InFlightWindow() const { return FInFlightWindow.load(); }
  void SetInFlightWindow(int AValue) { FInFlightWindow.store(AValue); }

  // Largest remaining length accepted from the broker; a longer frame ends
  // the connection before anything is allocated for it.
  static constexpr uint32_t kDefaultMaxIncomingPacketSize = 64u * 1024 * 1024;
  uint32_t MaxIncomingPacketSize() const { return FMaxIncomingPacketSize.load(); }
  void SetMaxIncomingPacketSize(uint32_t AValue) { FMaxIncomingPacketSize.store(AValue); }

  // Open exchanges counted against InFlightWindow: packets in flight plus
  // PUBRELs queued and not yet sent (an outgoing QoS 2 message keeps its slot
  // from its PUBLISH to its PUBCOMP).
  int WindowUse();

  // Engine-clock time at which the CONNECT of the current connection was
  // written, 0 once its CONNACK came (or before it was written).
  int64_t ConnectSentTime() const { return FConnectSentTime.load(); }
  void SetConnectSentTime(int64_t AValue) { FConnectSentTime.store(AValue); }
  // Engine-clock time of the oldest PINGREQ still unanswered, 0 when none.
  int64_t PingSentTime() const { return FPingSentTime.load(); }
  void SetPingSentTime(int64_t AValue) { FPingSentTime.store(AValue); }

  // Exactly-once delivery of received QoS 2 messages (main thread only): the
  // id of a QoS 2 PUBLISH is kept until its PUBREL. Returns false when the
  // id is held already (a repeat, not to be delivered again).
  bool RememberIncomingQoS2(uint16_t APacketID);
  void ForgetIncomingQoS2(uint16_t APacketID);
  bool HoldsIncomingQoS2(uint16_t APacketID) const { return FIncomingQoS2.count(APacketID) != 0; }

  int64_t LastWriteCommunicationTime() const { return FLastWriteCommunicationTime.load(); }
  void SetLastWriteCommunicationTime(int64_t AValue) { FLastWriteCommunicationTime.store(AValue); }
  int64_t LastReadCommunicationTime() const { return FLastReadCommunicationTime.load(); }
  void SetLastReadCommunicationTime(int64_t AValue) { FLastReadCommunicationTime.store(AValue); }
  bool HasActiveNetworkConnection() const { return FHasActiveNetworkConnection.load(); }
  void SetHasActiveNetworkConnection(bool AValue) { FHasActiveNetworkConnection.store(AValue); }
  bool HasActiveMqttConnection() const { return FHasActiveMqttConnection.load(); }
  void SetHasActiveMqttConnection(bool AValue) { FHasActiveMqttConnection.store(AValue); }

  // Appends to the outgoing queue. A CONNECT instead takes the connect slot,
  // which the writer serves before anything else (see HoldUntilConnect).
  // Acknowledgements, PUBRELs and PINGREQs go to the control queue, which
  // the writer serves before the outgoing queue and whatever the window.
  void QueueOutgoingPacket(std::unique_ptr<TQueuedOutPacket> APacket);
  bool HasOutgoingPackets();
  std::unique_ptr<TQueuedOutPacket> GetNextOutGoingPacket();

  // The writer's pass over the in-flight list, then the outgoing queue.
  void StartOutgoingPacketsCycle();
  std::unique_ptr<TQueuedOutPacket> GetNextInFlightPacket();
  void WaitForAcknowledge(std::unique_ptr<TQueuedOutPacket> APacket);
  bool HasInflightPackets();
  // Engine-clock time at which the first packet in flight is due for its
  // resend (ARetryIntervalMs after its last send); 0 when none waits.
  int64_t NextResendDue(int64_t ARetryIntervalMs);
  // A packet taken from the session leaves it for good (sent at QoS 0,
  // acknowledged, given up or refused). Acknowledgement marks for its id that
  // no other packet will look for are discarded with it.
  void ReleaseOutPacket(std::unique_ptr<TQueuedOutPacket> APacket);
  // Called (outside the session's locks) after a packet was queued; the
  // writer wakes itself with it.
  void SetOnPacketQueued(std::function<void()> ANotify);
  // Answers the writer has not yet taken (acknowledgements, PUBRELs and
  // PINGREQs). From kAnswerBacklog on, the reader takes in no more frames:
  // each would add an answer, and a client that cannot send its answers as
  // fast as frames arrive would otherwise pile them up without bound while
  // the broker holds every unanswered message.
  static constexpr int kAnswerBacklog = 64;
  int QueuedAnswers();
  bool AnswersBacklogged() { return QueuedAnswers() >= kAnswerBacklog; }
  // Called (outside the session's locks) when the writer has taken the
  // backlog of answers down to half of kAnswerBacklog; the reader resumes.
  void SetOnAnswersDrained(std::function<void()> ANotify);
  // Packets queued and not yet released: queued, being sent, or waiting for
  // their acknowledgement (the CONNECT is not counted).
  int OutstandingPackets() const { return FOutstanding.load(); }
  // Puts back a packet whose write failed, to be taken first at the next pass.
  void RequeueOutgoingPacket(std::unique_ptr<TQueuedOutPacket> APacket);
  // Discards what belonged to the connection that ended: the queued
  // acknowledgements and PINGREQs (PUBRELs stay, the exchange goes on).
  void DropConnectionPackets();
  // Whether a packet type travels through the control queue.
  static bool IsControlPacket(TNeloMQTTPacketType APacketType);

  // Connect ordering: from HoldUntilConnect until the queued CONNECT has been
  // written, the writer sends nothing else on the connection. HoldUntilConnect
  // discards a CONNECT of an earlier attempt that was never written, so only
  // the CONNECT queued for the new connection can open it.
  void HoldUntilConnect();
  bool ConnectPending() const { return FConnectPending.load(); }
  std::unique_ptr<TQueuedOutPacket> TakeConnectPacket();
  // The CONNECT taken last was written. The hold stays when a newer CONNECT
  // was queued meanwhile (a new attempt started while the old one was sent).
  void ConnectPacketWritten();
  void ReturnConnectPacket(std::unique_ptr<TQueuedOutPacket> APacket);

  // Records an acknowledgement under the type of the packet it acknowledges.
  // Marks that no queued or in-flight packet will look for are not kept.
  void MarkAsAcknowledged(uint16_t APacketID, TNeloMQTTPacketType APacketType);
  bool IsAcknowlegded(uint16_t APacketID, TNeloMQTTPacketType APacketType, bool ARemoveIfExists);
  // Number of marks held under APacketType's list.
  int AcknowledgementCount(TNeloMQTTPacketType APacketType);

  void AddIncomingPacket(uint8_t AFirstByte, TNeloMQTTBytes ABuffer);
  bool HasIncomingPackets();
  std::unique_ptr<TQueuedInPacket> GetNextIncomingPacket();

  // Empties the outgoing, control and incoming queues and forgets the
  // received QoS 2 ids; in-flight packets stay.
  void Clear();

  // Main thread only.
  void AddSubscriptionRequest(std::unique_ptr<TNeloMQTTRequestedSubscription> ARequest);
  std::unique_ptr<TNeloMQTTRequestedSubscription> GetSubscriptionRequest(uint16_t APacketID);
  const TNeloMQTTRequestedSubscriptions& RequestedSubscriptions() const { return FRequestedSubscriptions; }

 private:
  // An acknowledgement list with the count of packets per id that will look
  // for a mark in it; both are guarded by the list's lock.
  struct TAckList {
    TNeloMQTTWordThreadList Marks;
    std::unordered_map<uint16_t, int> Waiting;
  };
  TAckList& GetAcknowledgementList(TNeloMQTTPacketType APacketType);
  void RegisterWaiting(const TQueuedOutPacket& APacket);
  void UnregisterWaiting(const TQueuedOutPacket& APacket);
  bool IsIdHeld(uint16_t APacketID);
  void ClearOutgoingPackets();
  void ClearIncomingPackets();

  uint16_t FLastPacketId = 0;
  std::atomic<int> FInFlightWindow{10};
  TNeloMQTTPacketsOutThreadList FInFlightPacketsQueue;
  std::atomic<int64_t> FLastWriteCommunicationTime{0};
  std::atomic<int64_t> FLastReadCommunicationTime{0};
  std::atomic<bool> FHasActiveNetworkConnection{false};
  std::atomic<bool> FHasActiveMqttConnection{false};
  TNeloMQTTPacketsInThreadList FPacketsInQueue;
  TNeloMQTTPacketsOutThreadList FOutGoingPacketsQueue;
  TNeloMQTTPacketsOutThreadList FControlQueue;
  std::atomic<int> FQueuedPubRels{0};
  std::atomic<uint32_t> FMaxIncomingPacketSize{kDefaultMaxIncomingPacketSize};
  std::atomic<int64_t> FConnectSentTime{0};
  std::atomic<int64_t> FPingSentTime{0};
  std::unordered_set<uint16_t> FIncomingQoS2;
  TAckList FAcknowledgedPublishPackets;
  TAckList FAcknowledgedPubRecPackets;
  TAckList FAcknowledgedPubRelPackets;
  // Writer only: in-flight entries still to visit in the current pass.
  int FCycleRemaining = 0;
  TNeloMQTTRequestedSubscriptions FRequestedSubscriptions;
  // The CONNECT of the current connection attempt, guarded by the outgoing lock.
  std::unique_ptr<TQueuedOutPacket> FConnectPacket;
  std::atomic<bool> FConnectPending{false};
  std::atomic<int> FOutstanding{0};
  std::mutex FNotifyLock;
  std::function<void()> FOnPacketQueued;
  std::function<void()> FOnAnswersDrained;
  void NotifyPacketQueued();
};
