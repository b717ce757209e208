#include "Nelo.MQTT.Client.Session.h"

TNeloMQTTNeloMQTTClientSession::TNeloMQTTNeloMQTTClientSession() = default;
TNeloMQTTNeloMQTTClientSession::~TNeloMQTTNeloMQTTClientSession() = default;

void TNeloMQTTNeloMQTTClientSession::SetOnPacketQueued(std::function<void()> ANotify) {
  std::lock_guard<std::mutex> lock(FNotifyLock);
  FOnPacketQueued = std::move(ANotify);
}

void TNeloMQTTNeloMQTTClientSession::SetOnAnswersDrained(std::function<void()> ANotify) {
  std::lock_guard<std::mutex> lock(FNotifyLock);
  FOnAnswersDrained = std::move(ANotify);
}

void TNeloMQTTNeloMQTTClientSession::QueueWrite(TQueuedWrite AWrite) {
  {
    std::lock_guard<std::mutex> guard(FWriteLock);
    if (AWrite.Answer) ++FQueuedAnswers;
    if (AWrite.Publish0) ++FQueuedPublishes0;
    FWrites.push_back(std::move(AWrite));
  }
  std::lock_guard<std::mutex> lock(FNotifyLock);
  if (FOnPacketQueued) FOnPacketQueued();
}

void TNeloMQTTNeloMQTTClientSession::AttachInfoToLast(const TNeloMQTTPacketInfo& APacketInfo) {
  std::lock_guard<std::mutex> guard(FWriteLock);
  if (FWrites.empty() || FWrites.back().HasInfo) return;
  FWrites.back().Info = APacketInfo;
  FWrites.back().HasInfo = true;
}

bool TNeloMQTTNeloMQTTClientSession::TakeWrite(TQueuedWrite& AWrite) {
  std::lock_guard<std::mutex> guard(FWriteLock);
  if (FWrites.empty()) return false;
  AWrite = std::move(FWrites.front());
  FWrites.pop_front();
  return true;
}

void TNeloMQTTNeloMQTTClientSession::WriteDone(TQueuedWrite AWrite, bool ASent) {
  if (ASent) FFlushed += AWrite.Bytes.size();
  if (AWrite.Publish0) {
    if (!ASent) {
      std::lock_guard<std::mutex> guard(FWriteLock);
      FKept.push_back(std::move(AWrite));
      return;
    }
    --FQueuedPublishes0;
  }
  if (!AWrite.Answer) return;
  if (--FQueuedAnswers == kAnswerBacklog / 2 - 1) {
    std::lock_guard<std::mutex> lock(FNotifyLock);
    if (FOnAnswersDrained) FOnAnswersDrained();
  }
}

void TNeloMQTTNeloMQTTClientSession::ClearWrites() {
  std::deque<TQueuedWrite> dropped;
  {
    std::lock_guard<std::mutex> guard(FWriteLock);
    dropped.swap(FWrites);
  }
  for (TQueuedWrite& write : dropped) WriteDone(std::move(write), false);
}

void TNeloMQTTNeloMQTTClientSession::RequeueKeptPublishes() {
  {
    std::lock_guard<std::mutex> guard(FWriteLock);
    if (FKept.empty()) return;
    while (!FKept.empty()) {
      FWrites.push_front(std::move(FKept.back()));
      FKept.pop_back();
    }
  }
  std::lock_guard<std::mutex> lock(FNotifyLock);
  if (FOnPacketQueued) FOnPacketQueued();
}

bool TNeloMQTTNeloMQTTClientSession::HasOutgoingPackets() {
  std::lock_guard<std::mutex> guard(FWriteLock);
  return !FWrites.empty();
}

void TNeloMQTTNeloMQTTClientSession::AddSubscriptionRequest(
    std::unique_ptr<TNeloMQTTRequestedSubscription> ARequest) {
  if (ARequest) FRequestedSubscriptions.push_back(std::move(*ARequest));
}

std::unique_ptr<TNeloMQTTRequestedSubscription> TNeloMQTTNeloMQTTClientSession::GetSubscriptionRequest(
    uint16_t APacketID) {
  for (auto it = FRequestedSubscriptions.begin(); it != FRequestedSubscriptions.end(); ++it) {
    if (it->PacketId == APacketID) {
      auto request = std::make_unique<TNeloMQTTRequestedSubscription>(std::move(*it));
      FRequestedSubscriptions.erase(it);
      return request;
    }
  }
  return nullptr;
}
