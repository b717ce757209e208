// State shared between the client and its reader, writer and keep-alive
// threads. The MQTT session itself (packet ids, the window, resends,
// acknowledgements, kept subscriptions, received QoS 2 ids) lives in the
// protocol core (Nelo.MQTT.Core.h), which only the main thread drives; what
// the threads share is here: the bytes the core wrote and the writer has not
// yet sent, the connection flags, the communication timestamps and a few
// counts the core publishes after every call.
//
// The write queue has its own lock; flags, timestamps and counts are
// atomics, read and written whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "Nelo.MQTT.Global.h"

// One packet the core wrote, as the writer sends it.
struct TQueuedWrite {
  TNeloMQTTBytes Bytes;
  // What OnPacketSent reports once the bytes are out.
  TNeloMQTTPacketInfo Info;
  bool HasInfo = false;
  // An acknowledgement of the broker's packets (PUBACK, PUBREC, PUBREL,
  // PUBCOMP): counted against the answer backlog.
  bool Answer = false;
  // A QoS 0 PUBLISH: counted as outstanding until written.
  bool Publish0 = false;
};

class TNeloMQTTNeloMQTTClientSession {
 public:
  TNeloMQTTNeloMQTTClientSession();
  ~TNeloMQTTNeloMQTTClientSession();
  TNeloMQTTNeloMQTTClientSession(const TNeloMQTTNeloMQTTClientSession&) = delete;
  TNeloMQTTNeloMQTTClientSession& operator=(const TNeloMQTTNeloMQTTClientSession&) = delete;

  // Largest remaining length accepted from the broker (the core's cap).
  static constexpr uint32_t kDefaultMaxIncomingPacketSize = 64u * 1024 * 1024;
  // The core's cap as the reader sees it: a frame above it is handed over
  // as it comes, so the core refuses it as soon as its length is known.
  uint32_t MaxIncomingPacketSize() const { return FMaxIncomingPacketSize.load(); }
  void SetMaxIncomingPacketSize(uint32_t AValue) { FMaxIncomingPacketSize.store(AValue); }

  // Answers (acknowledgements) written by the core and not yet sent. From
  // kAnswerBacklog on, the reader takes in no more frames: each would add an
  // answer, and a client that cannot send its answers as fast as frames
  // arrive would otherwise pile them up without bound while the broker holds
  // every unanswered message.
  static constexpr int kAnswerBacklog = 64;
  int QueuedAnswers() const { return FQueuedAnswers.load(); }
  bool AnswersBacklogged() const { return QueuedAnswers() >= kAnswerBacklog; }

  // ---- The write queue (main thread queues, the writer takes) ----
  void QueueWrite(TQueuedWrite AWrite);
  // Attaches APacketInfo to the write queued last (the core reports a packet
  // right after writing it).
  void AttachInfoToLast(const TNeloMQTTPacketInfo& APacketInfo);
  // The oldest write, or false when none waits.
  bool TakeWrite(TQueuedWrite& AWrite);
  // The writer is through with a write taken by TakeWrite (sent or not).
  // A QoS 0 PUBLISH that could not be sent is kept for the next connection.
  void WriteDone(TQueuedWrite AWrite, bool ASent);
  // Drops every write not yet taken (they belonged to a connection that
  // ended), except the QoS 0 PUBLISHes: those wait for the next connection.
  void ClearWrites();
  // The next connection is accepted: the QoS 0 PUBLISHes kept from the last
  // one go first.
  void RequeueKeptPublishes();
  bool HasOutgoingPackets();
  // Bytes sent since the core last heard of it (taken by the main thread).
  std::size_t TakeFlushed() { return FFlushed.exchange(0); }

  // Called (outside the lock) after a write was queued: the writer wakes.
  void SetOnPacketQueued(std::function<void()> ANotify);
  // Called when the writer has taken the backlog of answers down to half of
  // kAnswerBacklog: the reader resumes.
  void SetOnAnswersDrained(std::function<void()> ANotify);

  // ---- Published by the main thread after every core call ----
  // Exchanges open or waiting behind the window, plus QoS 0 publishes not
  // yet written: what is not yet released.
  int OutstandingPackets() const { return FCoreOutstanding.load() + FQueuedPublishes0.load(); }
  void SetCoreOutstanding(int AValue) { FCoreOutstanding.store(AValue); }
  // Engine-clock time of the core's next deadline; INT64_MAX when none.
  int64_t CoreDeadline() const { return FCoreDeadline.load(); }
  void SetCoreDeadline(int64_t AValue) { FCoreDeadline.store(AValue); }

  int64_t LastWriteCommunicationTime() const { return FLastWriteCommunicationTime.load(); }
  void SetLastWriteCommunicationTime(int64_t AValue) { FLastWriteCommunicationTime.store(AValue); }
  int64_t LastReadCommunicationTime() const { return FLastReadCommunicationTime.load(); }
  void SetLastReadCommunicationTime(int64_t AValue) { FLastReadCommunicationTime.store(AValue); }
  bool HasActiveNetworkConnection() const { return FHasActiveNetworkConnection.load(); }
  void SetHasActiveNetworkConnection(bool AValue) { FHasActiveNetworkConnection.store(AValue); }
  bool HasActiveMqttConnection() const { return FHasActiveMqttConnection.load(); }
  void SetHasActiveMqttConnection(bool AValue) { FHasActiveMqttConnection.store(AValue); }

  // SUBSCRIBE requests of the application waiting for their SUBACK (main
  // thread only).
  void AddSubscriptionRequest(std::unique_ptr<TNeloMQTTRequestedSubscription> ARequest);
  std::unique_ptr<TNeloMQTTRequestedSubscription> GetSubscriptionRequest(uint16_t APacketID);
  const TNeloMQTTRequestedSubscriptions& RequestedSubscriptions() const { return FRequestedSubscriptions; }

 private:
  std::mutex FWriteLock;
  std::deque<TQueuedWrite> FWrites;
  std::deque<TQueuedWrite> FKept;  // guarded by FWriteLock
  std::atomic<int> FQueuedAnswers{0};
  std::atomic<uint32_t> FMaxIncomingPacketSize{kDefaultMaxIncomingPacketSize};
  std::atomic<int> FQueuedPublishes0{0};
  std::atomic<std::size_t> FFlushed{0};
  std::atomic<int> FCoreOutstanding{0};
  std::atomic<int64_t> FCoreDeadline{INT64_MAX};
  std::atomic<int64_t> FLastWriteCommunicationTime{0};
  std::atomic<int64_t> FLastReadCommunicationTime{0};
  std::atomic<bool> FHasActiveNetworkConnection{false};
  std::atomic<bool> FHasActiveMqttConnection{false};
  TNeloMQTTRequestedSubscriptions FRequestedSubscriptions;
  std::mutex FNotifyLock;
  std::function<void()> FOnPacketQueued;
  std::function<void()> FOnAnswersDrained;
};
