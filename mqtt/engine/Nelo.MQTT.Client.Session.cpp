#include "Nelo.MQTT.Client.Session.h"

#include <vector>

#include "Nelo.MQTT.Clock.h"

namespace {
// The DUP flag: bit 3 of a packet's first byte.
constexpr uint8_t kDuplicateFlag = 0x08;

bool WaitsForAcknowledgement(const TQueuedOutPacket& APacket) {
  return (APacket.Qos() == qosAtLeastOnce || APacket.Qos() == qosExactlyOnce) && APacket.PacketId() != 0;
}
}  // namespace

TQueuedOutPacket::TQueuedOutPacket(uint16_t APacketID, TNeloMQTTQoS AQos, TNeloMQTTPacketType APacketType,
                                   TNeloMQTTBytes APacket)
    : FPacket(std::move(APacket)), FQos(AQos), FPacketId(APacketID), FPacketType(APacketType) {}

void TQueuedOutPacket::RegisterAttempt() { RegisterAttempt(NeloNowMs()); }

void TQueuedOutPacket::RegisterAttempt(int64_t ANow) {
  ++FAttempt;
  FLastAttempt = ANow;
  if (FPacketType == mtPUBLISH && !FPacket.empty()) FPacket[0] |= kDuplicateFlag;
}

TNeloMQTTNeloMQTTClientSession::TNeloMQTTNeloMQTTClientSession() = default;
TNeloMQTTNeloMQTTClientSession::~TNeloMQTTNeloMQTTClientSession() = default;

TNeloMQTTNeloMQTTClientSession::TAckList& TNeloMQTTNeloMQTTClientSession::GetAcknowledgementList(
    TNeloMQTTPacketType APacketType) {
  switch (APacketType) {
    case mtPUBREC:
      return FAcknowledgedPubRecPackets;
    case mtPUBREL:
      return FAcknowledgedPubRelPackets;
    default:
      return FAcknowledgedPublishPackets;
  }
}

bool TNeloMQTTNeloMQTTClientSession::IsIdHeld(uint16_t APacketID) {
  for (TAckList* list :
       {&FAcknowledgedPublishPackets, &FAcknowledgedPubRecPackets, &FAcknowledgedPubRelPackets}) {
    TNeloMQTTListGuard guard(list->Marks);
    auto it = list->Waiting.find(APacketID);
    if (it != list->Waiting.end() && it->second > 0) return true;
  }
  return false;
}

uint16_t TNeloMQTTNeloMQTTClientSession::GetNextPacketId() {
  uint16_t first = 0;
  for (int i = 0; i < 65535; ++i) {
    if (FLastPacketId == 65535) FLastPacketId = 0;
    ++FLastPacketId;
    if (i == 0) first = FLastPacketId;
    if (!IsIdHeld(FLastPacketId)) return FLastPacketId;
  }
  // Every id is held: hand out the next one in turn all the same.
  FLastPacketId = first;
  return first;
}

void TNeloMQTTNeloMQTTClientSession::RegisterWaiting(const TQueuedOutPacket& APacket) {
  if (!WaitsForAcknowledgement(APacket)) return;
  TAckList& list = GetAcknowledgementList(APacket.PacketType());
  TNeloMQTTListGuard guard(list.Marks);
  ++list.Waiting[APacket.PacketId()];
}

void TNeloMQTTNeloMQTTClientSession::UnregisterWaiting(const TQueuedOutPacket& APacket) {
  if (!WaitsForAcknowledgement(APacket)) return;
  TAckList& list = GetAcknowledgementList(APacket.PacketType());
  TNeloMQTTListGuard guard(list.Marks);
  auto it = list.Waiting.find(APacket.PacketId());
  if (it == list.Waiting.end()) return;
  if (--it->second > 0) return;
  list.Waiting.erase(it);
  // Nobody will look for this id any more: drop the marks left behind by
  // repeated acknowledgements, so a later packet with the same id is not
  // taken as acknowledged before it was sent.
  TNeloMQTTWordList& marks = guard.View();
  for (int i = marks.Count() - 1; i >= 0; --i)
    if (marks.Items(i) == APacket.PacketId()) marks.Delete(i);
}

void TNeloMQTTNeloMQTTClientSession::SetOnPacketQueued(std::function<void()> ANotify) {
  std::lock_guard<std::mutex> lock(FNotifyLock);
  FOnPacketQueued = std::move(ANotify);
}

void TNeloMQTTNeloMQTTClientSession::SetOnAnswersDrained(std::function<void()> ANotify) {
  std::lock_guard<std::mutex> lock(FNotifyLock);
  FOnAnswersDrained = std::move(ANotify);
}

int TNeloMQTTNeloMQTTClientSession::QueuedAnswers() {
  TNeloMQTTListGuard guard(FControlQueue);
  return guard->Count();
}

void TNeloMQTTNeloMQTTClientSession::NotifyPacketQueued() {
  std::lock_guard<std::mutex> lock(FNotifyLock);
  if (FOnPacketQueued) FOnPacketQueued();
}

void TNeloMQTTNeloMQTTClientSession::QueueOutgoingPacket(std::unique_ptr<TQueuedOutPacket> APacket) {
  if (!APacket) return;
  if (APacket->PacketType() == mtCONNECT) {
    {
      TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
      FConnectPacket = std::move(APacket);
      FConnectPending.store(true);
    }
    NotifyPacketQueued();
    return;
  }
  RegisterWaiting(*APacket);
  ++FOutstanding;
  if (IsControlPacket(APacket->PacketType())) {
    TNeloMQTTListGuard guard(FControlQueue);
    if (APacket->PacketType() == mtPUBREL) ++FQueuedPubRels;
    guard->Add(std::move(APacket));
  } else {
    TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
    guard->Add(std::move(APacket));
  }
  NotifyPacketQueued();
}

bool TNeloMQTTNeloMQTTClientSession::IsControlPacket(TNeloMQTTPacketType APacketType) {
  switch (APacketType) {
    case mtPUBACK:
    case mtPUBREC:
    case mtPUBREL:
    case mtPUBCOMP:
    case mtPINGREQ:
      return true;
    default:
      return false;
  }
}

int TNeloMQTTNeloMQTTClientSession::WindowUse() {
  TNeloMQTTListGuard guard(FInFlightPacketsQueue);
  return guard->Count() + FQueuedPubRels.load();
}

void TNeloMQTTNeloMQTTClientSession::DropConnectionPackets() {
  std::vector<std::unique_ptr<TQueuedOutPacket>> dropped;
  {
    TNeloMQTTListGuard guard(FControlQueue);
    dropped =
        guard->ExtractIf([](const TQueuedOutPacket& APacket) { return APacket.PacketType() != mtPUBREL; });
  }
  for (auto& packet : dropped) ReleaseOutPacket(std::move(packet));
}

bool TNeloMQTTNeloMQTTClientSession::RememberIncomingQoS2(uint16_t APacketID) {
  return FIncomingQoS2.insert(APacketID).second;
}

void TNeloMQTTNeloMQTTClientSession::ForgetIncomingQoS2(uint16_t APacketID) {
  FIncomingQoS2.erase(APacketID);
}

bool TNeloMQTTNeloMQTTClientSession::HasOutgoingPackets() {
  {
    TNeloMQTTListGuard guard(FControlQueue);
    if (guard->Count() > 0) return true;
  }
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  return guard->Count() > 0;
}

std::unique_ptr<TQueuedOutPacket> TNeloMQTTNeloMQTTClientSession::GetNextOutGoingPacket() {
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  return guard->ExtractFirst();
}

void TNeloMQTTNeloMQTTClientSession::RequeueOutgoingPacket(std::unique_ptr<TQueuedOutPacket> APacket) {
  if (!APacket) return;
  if (IsControlPacket(APacket->PacketType())) {
    TNeloMQTTListGuard guard(FControlQueue);
    if (APacket->PacketType() == mtPUBREL) ++FQueuedPubRels;
    guard->AddFirst(std::move(APacket));
    return;
  }
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  guard->AddFirst(std::move(APacket));
}

void TNeloMQTTNeloMQTTClientSession::HoldUntilConnect() {
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  FConnectPacket.reset();
  FConnectPending.store(true);
}

void TNeloMQTTNeloMQTTClientSession::ConnectPacketWritten() {
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  if (!FConnectPacket) FConnectPending.store(false);
}

std::unique_ptr<TQueuedOutPacket> TNeloMQTTNeloMQTTClientSession::TakeConnectPacket() {
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  return std::move(FConnectPacket);
}

void TNeloMQTTNeloMQTTClientSession::ReturnConnectPacket(std::unique_ptr<TQueuedOutPacket> APacket) {
  TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
  // A newer CONNECT queued meanwhile wins.
  if (!FConnectPacket) FConnectPacket = std::move(APacket);
}

void TNeloMQTTNeloMQTTClientSession::StartOutgoingPacketsCycle() {
  TNeloMQTTListGuard guard(FInFlightPacketsQueue);
  FCycleRemaining = guard->Count();
}

std::unique_ptr<TQueuedOutPacket> TNeloMQTTNeloMQTTClientSession::GetNextInFlightPacket() {
  // Acknowledgements, PUBRELs and pings first: they never wait behind new
  // PUBLISHes or a full window (the broker needs them to close exchanges).
  {
    std::unique_ptr<TQueuedOutPacket> packet;
    bool drained = false;
    {
      TNeloMQTTListGuard control(FControlQueue);
      packet = control->ExtractFirst();
      if (packet && packet->PacketType() == mtPUBREL) --FQueuedPubRels;
      drained = packet && control->Count() == kAnswerBacklog / 2 - 1;
    }
    if (drained) {
      std::lock_guard<std::mutex> lock(FNotifyLock);
      if (FOnAnswersDrained) FOnAnswersDrained();
    }
    if (packet) return packet;
  }
  TNeloMQTTListGuard guard(FInFlightPacketsQueue);
  // Each packet waiting when the pass began is visited once: the writer puts
  // the ones still waiting back at the end, so the first FCycleRemaining
  // entries are exactly the ones not visited yet. This also ends the walk
  // when the packet that opened it has left the list meanwhile.
  if (FCycleRemaining > 0 && guard->Count() > 0) {
    --FCycleRemaining;
    return guard->ExtractFirst();
  }
  FCycleRemaining = 0;
  if (guard->Count() + FQueuedPubRels.load() < FInFlightWindow.load()) return GetNextOutGoingPacket();
  return nullptr;
}

void TNeloMQTTNeloMQTTClientSession::WaitForAcknowledge(std::unique_ptr<TQueuedOutPacket> APacket) {
  if (!APacket) return;
  TNeloMQTTListGuard guard(FInFlightPacketsQueue);
  guard->Add(std::move(APacket));
}

int64_t TNeloMQTTNeloMQTTClientSession::NextResendDue(int64_t ARetryIntervalMs) {
  TNeloMQTTListGuard guard(FInFlightPacketsQueue);
  int64_t due = 0;
  guard->ForEach([&](const TQueuedOutPacket& APacket) {
    const int64_t at = APacket.LastAttempt() + ARetryIntervalMs;
    if (due == 0 || at < due) due = at;
  });
  return due;
}

bool TNeloMQTTNeloMQTTClientSession::HasInflightPackets() {
  TNeloMQTTListGuard guard(FInFlightPacketsQueue);
  return guard->Count() > 0;
}

void TNeloMQTTNeloMQTTClientSession::ReleaseOutPacket(std::unique_ptr<TQueuedOutPacket> APacket) {
  if (!APacket) return;
  UnregisterWaiting(*APacket);
  --FOutstanding;
}

void TNeloMQTTNeloMQTTClientSession::MarkAsAcknowledged(uint16_t APacketID, TNeloMQTTPacketType APacketType) {
  TAckList& list = GetAcknowledgementList(APacketType);
  {
    TNeloMQTTListGuard guard(list.Marks);
    auto it = list.Waiting.find(APacketID);
    if (it == list.Waiting.end() || it->second <= 0) return;
    guard->Add(APacketID);
  }
  // The writer releases the packet (and may fill the freed slot) at once.
  NotifyPacketQueued();
}

bool TNeloMQTTNeloMQTTClientSession::IsAcknowlegded(uint16_t APacketID, TNeloMQTTPacketType APacketType,
                                                    bool ARemoveIfExists) {
  TAckList& list = GetAcknowledgementList(APacketType);
  TNeloMQTTListGuard guard(list.Marks);
  int index = guard->IndexOf(APacketID);
  if (index < 0) return false;
  if (ARemoveIfExists) guard->Delete(index);
  return true;
}

int TNeloMQTTNeloMQTTClientSession::AcknowledgementCount(TNeloMQTTPacketType APacketType) {
  TAckList& list = GetAcknowledgementList(APacketType);
  TNeloMQTTListGuard guard(list.Marks);
  return guard->Count();
}

void TNeloMQTTNeloMQTTClientSession::AddIncomingPacket(uint8_t AFirstByte, TNeloMQTTBytes ABuffer) {
  auto packet = std::make_unique<TQueuedInPacket>(AFirstByte, std::move(ABuffer));
  TNeloMQTTListGuard guard(FPacketsInQueue);
  guard->Add(std::move(packet));
}

bool TNeloMQTTNeloMQTTClientSession::HasIncomingPackets() {
  TNeloMQTTListGuard guard(FPacketsInQueue);
  return guard->Count() > 0;
}

std::unique_ptr<TQueuedInPacket> TNeloMQTTNeloMQTTClientSession::GetNextIncomingPacket() {
  TNeloMQTTListGuard guard(FPacketsInQueue);
  return guard->ExtractFirst();
}

void TNeloMQTTNeloMQTTClientSession::ClearOutgoingPackets() {
  std::vector<std::unique_ptr<TQueuedOutPacket>> dropped;
  {
    TNeloMQTTListGuard guard(FOutGoingPacketsQueue);
    while (auto packet = guard->ExtractFirst()) dropped.push_back(std::move(packet));
    FConnectPacket.reset();
  }
  {
    TNeloMQTTListGuard guard(FControlQueue);
    while (auto packet = guard->ExtractFirst()) dropped.push_back(std::move(packet));
    FQueuedPubRels.store(0);
  }
  for (auto& packet : dropped) ReleaseOutPacket(std::move(packet));
}

void TNeloMQTTNeloMQTTClientSession::ClearIncomingPackets() {
  TNeloMQTTListGuard guard(FPacketsInQueue);
  guard->Clear();
}

void TNeloMQTTNeloMQTTClientSession::Clear() {
  ClearOutgoingPackets();
  ClearIncomingPackets();
  FIncomingQoS2.clear();
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
