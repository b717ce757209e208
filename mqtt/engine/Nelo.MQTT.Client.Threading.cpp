#include "Nelo.MQTT.Client.Threading.h"

#include <chrono>
#include <deque>
#include <exception>
#include <memory>

#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.Connection.h"
#include "Nelo.MQTT.Logging.h"
#include "Nelo.MQTT.Utils.h"

// ---------------------------------------------------------------------------
// Blocking hand-off

namespace {

struct THandOffStep {
  std::function<void()> Step;
  const void* Owner = nullptr;
  bool Blocking = false;
  bool Done = false;
  std::exception_ptr Error;
};

struct THandOff {
  std::mutex Lock;
  std::condition_variable Queued;  // the main thread waits for steps
  std::condition_variable Done;    // workers wait for their step to have run
  std::deque<std::shared_ptr<THandOffStep>> Steps;
  std::mutex WakeLock;
  std::function<void()> Wake;
};

THandOff& HandOff() {
  static THandOff handOff;
  return handOff;
}

std::atomic<std::thread::id>& MainThreadId() {
  static std::atomic<std::thread::id> id{std::this_thread::get_id()};
  return id;
}

// Static initialisation runs on the thread that runs main().
const bool s_mainThreadNoted = (MainThreadId(), HandOff(), true);

void Enqueue(const std::shared_ptr<THandOffStep>& AStep) {
  THandOff& h = HandOff();
  {
    std::lock_guard<std::mutex> lock(h.Lock);
    h.Steps.push_back(AStep);
  }
  h.Queued.notify_all();
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(h.WakeLock);
    wake = h.Wake;
  }
  if (wake) wake();
}

}  // namespace

bool NeloIsMainThread() { return std::this_thread::get_id() == MainThreadId().load(); }

void NeloSetMainThread() { MainThreadId().store(std::this_thread::get_id()); }

void NeloSetWakeMainThread(std::function<void()> AWake) {
  THandOff& h = HandOff();
  std::lock_guard<std::mutex> lock(h.WakeLock);
  h.Wake = std::move(AWake);
}

void NeloSynchronize(const std::function<void()>& AStep) {
  (void)s_mainThreadNoted;
  if (NeloIsMainThread()) {
    AStep();
    return;
  }
  auto step = std::make_shared<THandOffStep>();
  step->Step = AStep;
  step->Blocking = true;
  Enqueue(step);
  THandOff& h = HandOff();
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(h.Lock);
    h.Done.wait(lock, [&] { return step->Done; });
    // Taken over here, so the error lives on this thread only.
    error = std::move(step->Error);
    step->Error = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

void NeloQueueOnMainThread(const void* AOwner, std::function<void()> AStep) {
  if (NeloIsMainThread()) {
    try {
      AStep();
    } catch (...) {
    }
    return;
  }
  auto step = std::make_shared<THandOffStep>();
  step->Step = std::move(AStep);
  step->Owner = AOwner;
  Enqueue(step);
}

void NeloCancelQueued(const void* AOwner) {
  THandOff& h = HandOff();
  std::lock_guard<std::mutex> lock(h.Lock);
  for (auto it = h.Steps.begin(); it != h.Steps.end();) {
    if (!(*it)->Blocking && (*it)->Owner == AOwner)
      it = h.Steps.erase(it);
    else
      ++it;
  }
}

bool NeloCheckSynchronize(int ATimeoutMs) {
  if (!NeloIsMainThread()) return false;
  THandOff& h = HandOff();
  bool ran = false;
  for (;;) {
    std::shared_ptr<THandOffStep> step;
    {
      std::unique_lock<std::mutex> lock(h.Lock);
      if (h.Steps.empty() && !ran && ATimeoutMs > 0)
        h.Queued.wait_for(lock, std::chrono::milliseconds(ATimeoutMs), [&] { return !h.Steps.empty(); });
      if (h.Steps.empty()) return ran;
      step = h.Steps.front();
      h.Steps.pop_front();
    }
    std::exception_ptr error;
    try {
      step->Step();
    } catch (...) {
      error = std::current_exception();
    }
    ran = true;
    if (step->Blocking) {
      {
        std::lock_guard<std::mutex> lock(h.Lock);
        step->Error = std::move(error);
        step->Done = true;
      }
      h.Done.notify_all();
    }
  }
}

// ---------------------------------------------------------------------------
// Clock

namespace {
struct TClock {
  std::mutex Lock;
  std::shared_ptr<const std::function<int64_t()>> Now;
  std::atomic<bool> Replaced{false};  // spares the lock on the usual path
};
TClock& Clock() {
  static TClock clock;
  return clock;
}
}  // namespace

int64_t NeloNowMs() {
  TClock& c = Clock();
  if (c.Replaced.load()) {
    std::shared_ptr<const std::function<int64_t()>> now;
    {
      std::lock_guard<std::mutex> lock(c.Lock);
      now = c.Now;
    }
    if (now) return (*now)();
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void NeloSetClock(std::function<int64_t()> ANow) {
  TClock& c = Clock();
  std::lock_guard<std::mutex> lock(c.Lock);
  if (ANow)
    c.Now = std::make_shared<const std::function<int64_t()>>(std::move(ANow));
  else
    c.Now.reset();
  c.Replaced.store(c.Now != nullptr);
}

// ---------------------------------------------------------------------------
// Worker

TNeloMQTTWorkerThread::TNeloMQTTWorkerThread(TNeloMQTTNetworkConnection* AConnection,
                                             TNeloMQTTNeloMQTTClientSession* ASession, TNeloMQTTLogger* ALog)
    : FConnection(AConnection), FSession(ASession), FLogger(ALog) {}

TNeloMQTTWorkerThread::~TNeloMQTTWorkerThread() { Stop(); }

void TNeloMQTTWorkerThread::Start() {
  FThread = std::thread([this] { Execute(); });
}

void TNeloMQTTWorkerThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(FSleepLock);
    FTerminated.store(true);
  }
  FSleep.notify_all();
}

void TNeloMQTTWorkerThread::Wake() {
  {
    std::lock_guard<std::mutex> lock(FSleepLock);
    FWakeRequested = true;
  }
  FSleep.notify_all();
}

void TNeloMQTTWorkerThread::WaitFor() {
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) return;
  if (NeloIsMainThread()) {
    // Serve hand-offs until the thread is through, so a worker waiting in
    // one can finish its pass.
    while (!FFinished.load()) NeloCheckSynchronize(5);
  }
  FThread.join();
}

void TNeloMQTTWorkerThread::Stop() {
  Terminate();
  WaitFor();
}

void TNeloMQTTWorkerThread::Execute() {
  TNeloMQTTLogHelper::Info(Logger(), this, "Thread Started");
  // Passes run on a fixed grid of RunInterval ms (shifted by the worker's
  // phase), so their spacing does not grow by the time each pass takes, and
  // workers keep their offset to each other: the reader runs half a period
  // after the writer, so an acknowledgement that arrives after a write is
  // read and marked before the writer's next pass looks for it.
  using TClockType = std::chrono::steady_clock;
  const auto interval = std::chrono::milliseconds(FRunInterval);
  const auto sinceEpoch = TClockType::now().time_since_epoch();
  TClockType::time_point next =
      TClockType::time_point(sinceEpoch - sinceEpoch % interval) + std::chrono::milliseconds(FPhaseMs);
  bool woken = false;
  while (!Terminated()) {
    if (!Paused()) {
      try {
        DoWork();
      } catch (const std::exception& e) {
        TNeloMQTTLogHelper::Error(Logger(), this, "Thread pass failed", &e);
      } catch (...) {
        TNeloMQTTLogHelper::Error(Logger(), this, "Thread pass failed");
      }
    }
    const auto pause = std::chrono::milliseconds(PauseAfterPass());
    const auto now = TClockType::now();
    if (!woken || next <= now) {
      next += interval;
      if (next <= now) next += (now - next) / interval * interval + interval;
      if (pause > interval) next += (pause - interval) / interval * interval;
    } else if (pause <= interval && next - now > interval) {
      // Woken out of an idle pause with work to do: back on the short grid.
      next -= (next - now) / interval * interval;
    }
    std::unique_lock<std::mutex> lock(FSleepLock);
    FSleep.wait_until(lock, next, [this] { return FTerminated.load() || FWakeRequested; });
    // A wake-up runs an extra pass; the grid pass it came before stays due.
    woken = FWakeRequested;
    FWakeRequested = false;
  }
  TNeloMQTTLogHelper::Info(Logger(), this, "Thread Stopped");
  FFinished.store(true);
}

// ---------------------------------------------------------------------------
// Reader

namespace {
// A broken frame: the stream can no longer be cut into packets.
class EBrokenStream : public ENeloMQTTError {
 public:
  using ENeloMQTTError::ENeloMQTTError;
};
}  // namespace

TNeloMQTTReaderThread::TNeloMQTTReaderThread(TNeloMQTTNetworkConnection* AConnection,
                                             TNeloMQTTNeloMQTTClientSession* ASession, TNeloMQTTLogger* ALog)
    : TNeloMQTTWorkerThread(AConnection, ASession, ALog) {
  SetPhase(RunInterval() / 2);
  Start();
}

TNeloMQTTReaderThread::~TNeloMQTTReaderThread() { Stop(); }

void TNeloMQTTReaderThread::SetOnPacketReceived(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnPacketReceived = std::move(AEvent);
}

void TNeloMQTTReaderThread::NotifyPacketReceived() {
  TNeloNotifyEvent event;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    event = FOnPacketReceived;
  }
  if (event) event(this);
}

void TNeloMQTTReaderThread::DoWork() {
  if (FConnection == nullptr) {
    TNeloMQTTLogHelper::Warning(Logger(), this, "IN - Disconnected");
    return;
  }
  bool inFrame = false;
  try {
    while (!Paused() && !Terminated() && FConnection->HasData()) {
      TNeloMQTTLogger* log = Logger();
      TNeloMQTTLogHelper::Debug(log, this, "IN - Incoming data detected -- Getting First Byte");
      uint8_t first = 0;
      FConnection->Read(first);
      TNeloMQTTLogHelper::Debug(log, this, "IN - First Byte", first);
      if (first != 0) {
        inFrame = true;
        TNeloMQTTLogHelper::Debug(log, this, "IN - Reading Remaining length");
        TNeloMQTTBytes buffer;
        uint8_t last = 0;
        do {
          FConnection->Read(buffer, 1, true);
          last = buffer.empty() ? 0 : buffer.back();
          TNeloMQTTLogHelper::Debug(log, this, "IN - RL byte", last);
        } while ((last & 128) != 0 && buffer.size() < 4);
        if ((last & 128) != 0) throw EBrokenStream("Malformed remaining length");
        const int length = DecodeRemainingLength(buffer);
        TNeloMQTTLogHelper::Debug(log, this, "IN - Got Remaining length --> " + std::to_string(length));
        if (length > 0) {
          TNeloMQTTLogHelper::Debug(log, this, "IN - Start reading " + std::to_string(length) + " bytes");
          FConnection->Read(buffer, static_cast<std::size_t>(length), false);
          TNeloMQTTLogHelper::Debug(
              log, this, "IN - End reading bytes. Resulting length: " + std::to_string(buffer.size()));
        } else {
          buffer.clear();
        }
        FSession->AddIncomingPacket(first, std::move(buffer));
        TNeloMQTTLogHelper::Debug(log, this, "IN - Bytes added to incoming messages queue");
        inFrame = false;
      }
      NeloSynchronize([this] { NotifyPacketReceived(); });
    }
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, "IN - Read exception", &e);
    // A frame cut short (time-out, malformed length) leaves the stream out of
    // step: close the transport so the loss is reported and a reconnect can
    // start over on a clean stream.
    if (inFrame && FConnection->IsReady()) FConnection->Close();
  }
}

// ---------------------------------------------------------------------------
// Writer

TNeloMQTTWriterThread::TNeloMQTTWriterThread(TNeloMQTTNetworkConnection* AConnection,
                                             TNeloMQTTNeloMQTTClientSession* ASession, TNeloMQTTLogger* ALog)
    : TNeloMQTTWorkerThread(AConnection, ASession, ALog) {
  if (FSession) FSession->SetOnPacketQueued([this] { Wake(); });
  Start();
}

TNeloMQTTWriterThread::~TNeloMQTTWriterThread() {
  if (FSession) FSession->SetOnPacketQueued(nullptr);
  Stop();
}

int TNeloMQTTWriterThread::PauseAfterPass() {
  const bool idle =
      !FSession->ConnectPending() && !FSession->HasInflightPackets() && !FSession->HasOutgoingPackets();
  return idle ? kIdlePauseMs : RunInterval();
}

void TNeloMQTTWriterThread::SetOnPacketSent(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FLock);
  FOnPacketSent = std::move(AEvent);
}

int64_t TNeloMQTTWriterThread::LastSentTime() {
  std::lock_guard<std::mutex> lock(FLock);
  return FLastSentTime;
}

TNeloMQTTPacketInfo TNeloMQTTWriterThread::LastSentPacketInfo() {
  std::lock_guard<std::mutex> lock(FLock);
  return FLastSentPacketInfo;
}

void TNeloMQTTWriterThread::SetLastSentPacketInfo(const TQueuedOutPacket& APacket) {
  std::lock_guard<std::mutex> lock(FLock);
  FLastSentPacketInfo.PacketId = APacket.PacketId();
  FLastSentPacketInfo.PacketType = APacket.PacketType();
  FLastSentPacketInfo.PacketQos = APacket.Qos();
  FLastSentPacketInfo.IsDuplicate = APacket.Attempt() > 0;
  FLastSentPacketInfo.IsRetained = false;
}

void TNeloMQTTWriterThread::NotifyPacketSent() {
  TNeloNotifyEvent event;
  {
    std::lock_guard<std::mutex> lock(FLock);
    event = FOnPacketSent;
  }
  if (!event) return;
  // An error of the main-thread step is the application's: it is logged and
  // the packet, already written, goes its normal way.
  try {
    NeloSynchronize([this, &event] { event(this); });
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, "OUT - Packet sent notification failed", &e);
  } catch (...) {
    TNeloMQTTLogHelper::Error(Logger(), this, "OUT - Packet sent notification failed");
  }
}

bool TNeloMQTTWriterThread::WritePacket(const TQueuedOutPacket& APacket) {
  try {
    // The time of a send is taken as it starts.
    const int64_t now = NeloNowMs();
    FConnection->Write(APacket.Packet());
    if (!FConnection->IsReady()) return false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FLastSentTime = now;
    }
    // Stamped here as well as by the client's handler, so the keep-alive
    // sees every send also when no one listens for sent packets.
    FSession->SetLastWriteCommunicationTime(now);
    return true;
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, "OUT - Write exception", &e);
    return false;
  }
}

TNeloMQTTWriterThread::TSendResult TNeloMQTTWriterThread::SendQoS0Packet(
    std::unique_ptr<TQueuedOutPacket>& APacket) {
  TNeloMQTTLogHelper::Debug(Logger(), this, "OUT - Packet Qos:0 - SENDING", APacket->Packet());
  if (!WritePacket(*APacket)) return srTransportFailed;
  FSession->ReleaseOutPacket(std::move(APacket));
  NotifyPacketSent();
  return srDone;
}

TNeloMQTTWriterThread::TSendResult TNeloMQTTWriterThread::SendQoSnPacket(
    std::unique_ptr<TQueuedOutPacket>& APacket) {
  const std::string qosText = APacket->Qos() == qosExactlyOnce ? " Qos:2" : " Qos:1";
  const std::string idText = std::to_string(APacket->PacketId());
  if (FSession->IsAcknowlegded(APacket->PacketId(), APacket->PacketType(), true)) {
    TNeloMQTTLogHelper::Debug(Logger(), this, "OUT - Packet: " + idText + qosText + " - ACKNOWLEDGED");
    FSession->ReleaseOutPacket(std::move(APacket));
    return srDone;
  }
  if (APacket->Attempt() > 0 && NeloNowMs() - APacket->LastAttempt() < kRetryIntervalMs) {
    FSession->WaitForAcknowledge(std::move(APacket));
    return srDone;
  }
  if (APacket->Attempt() >= kMaxAttempts) {
    if (APacket->Qos() == qosExactlyOnce)
      TNeloMQTTLogHelper::Error(
          Logger(), this,
          "OUT - Packet: " + idText + " Qos:2 - PACKET FAILED TO SEND: TODO EVENT ------------- ");
    else
      TNeloMQTTLogHelper::Error(Logger(), this,
                                "OUT - Packet: " + idText + " Qos:1 - PACKET FAILED TO SEND ------------- ");
    FSession->ReleaseOutPacket(std::move(APacket));
    return srDone;
  }
  TNeloMQTTLogHelper::Debug(
      Logger(), this,
      "OUT - Packet: " + idText + qosText + " - SENDING - attempt: " + std::to_string(APacket->Attempt()),
      APacket->Packet());
  if (!WritePacket(*APacket)) return srTransportFailed;
  APacket->RegisterAttempt(LastSentTime());
  NotifyPacketSent();
  FSession->WaitForAcknowledge(std::move(APacket));
  return srDone;
}

TNeloMQTTWriterThread::TSendResult TNeloMQTTWriterThread::SendPacket(
    std::unique_ptr<TQueuedOutPacket>& APacket) {
  SetLastSentPacketInfo(*APacket);
  switch (APacket->Qos()) {
    case qosAtMostOnce:
      return SendQoS0Packet(APacket);
    case qosAtLeastOnce:
    case qosExactlyOnce:
      return SendQoSnPacket(APacket);
    default: {
      // The packet itself is at fault: refuse it and go on with the others.
      ENeloMQTTError error("Invalid Qos Level");
      TNeloMQTTLogHelper::Error(Logger(), this, "OUT - Packet refused", &error);
      FSession->ReleaseOutPacket(std::move(APacket));
      return srDone;
    }
  }
}

void TNeloMQTTWriterThread::DoWork() {
  if (FConnection == nullptr || !FConnection->IsReady()) return;
  // A new connection starts with its CONNECT: nothing else is written on it
  // before that, neither queued packets nor resends that have fallen due.
  if (FSession->ConnectPending()) {
    std::unique_ptr<TQueuedOutPacket> connect = FSession->TakeConnectPacket();
    if (!connect) return;
    SetLastSentPacketInfo(*connect);
    TNeloMQTTLogHelper::Debug(Logger(), this, "OUT - Packet Qos:0 - SENDING", connect->Packet());
    if (!WritePacket(*connect)) {
      FSession->ReturnConnectPacket(std::move(connect));
      return;
    }
    FSession->ConnectPacketWritten();
    connect.reset();
    NotifyPacketSent();
    // A new attempt queued its own CONNECT meanwhile: that one goes first.
    if (FSession->ConnectPending()) return;
  }
  FSession->StartOutgoingPacketsCycle();
  while (!Terminated() && !Paused()) {
    std::unique_ptr<TQueuedOutPacket> packet = FSession->GetNextInFlightPacket();
    if (!packet) break;
    if (SendPacket(packet) == srTransportFailed) {
      // Keep the packet for the next pass; the transport reports the loss.
      if (packet) {
        if (packet->Qos() == qosAtMostOnce)
          FSession->RequeueOutgoingPacket(std::move(packet));
        else
          FSession->WaitForAcknowledge(std::move(packet));
      }
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Keep-alive

TNeloMQTTKeepAliveThread::TNeloMQTTKeepAliveThread(TNeloMQTTNetworkConnection* AConnection,
                                                   TNeloMQTTNeloMQTTClientSession* ASession,
                                                   TNeloMQTTLogger* ALog)
    : TNeloMQTTWorkerThread(AConnection, ASession, ALog) {
  Start();
}

TNeloMQTTKeepAliveThread::~TNeloMQTTKeepAliveThread() { Stop(); }

void TNeloMQTTKeepAliveThread::SetOnRequestPing(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnPingRequest = std::move(AEvent);
}

void TNeloMQTTKeepAliveThread::SetOnRequestReconnect(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnRequestReconnect = std::move(AEvent);
}

void TNeloMQTTKeepAliveThread::RequestPing() {
  TNeloNotifyEvent event;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    event = FOnPingRequest;
  }
  if (event) event(this);
}

void TNeloMQTTKeepAliveThread::RequestReconnect() {
  TNeloNotifyEvent event;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    event = FOnRequestReconnect;
  }
  if (event) event(this);
}

void TNeloMQTTKeepAliveThread::DoWork() {
  const int64_t now = NeloNowMs();
  if (!FSession->HasActiveNetworkConnection() && ShouldTryReconnect() &&
      FSession->LastWriteCommunicationTime() + static_cast<int64_t>(ReconnectInterval()) * 1000 <= now) {
    TNeloMQTTLogHelper::Info(Logger(), this, "KEEP ALIVE - No Connection. Requesting Reconnect.");
    try {
      NeloSynchronize([this] { RequestReconnect(); });
    } catch (const std::exception& e) {
      TNeloMQTTLogHelper::Error(Logger(), this, "KEEP ALIVE - Reconnect request failed", &e);
    }
    FSession->SetLastWriteCommunicationTime(now);
  }
  if (FSession->HasActiveNetworkConnection() && ShouldKeepConnectionAlive() &&
      FSession->LastWriteCommunicationTime() + (static_cast<int64_t>(KeepAliveInterval()) + 1) * 1000 <=
          now) {
    TNeloMQTTLogHelper::Debug(
        Logger(), this,
        "KEEP ALIVE - No activity within the given interval. Requesting Ping to keep connection alive.");
    try {
      NeloSynchronize([this] { RequestPing(); });
    } catch (const std::exception& e) {
      TNeloMQTTLogHelper::Error(Logger(), this, "KEEP ALIVE - Ping request failed", &e);
    }
    FSession->SetLastWriteCommunicationTime(now);
  }
}
