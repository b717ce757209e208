#include "Nelo.MQTT.Client.Threading.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <exception>
#include <memory>

#include "Nelo.MQTT.Client.Session.h"
#include "Nelo.MQTT.Client.Texts.h"
#include "Nelo.MQTT.Logging.h"
#include "Nelo.MQTT.Transport.h"
#include "Nelo.MQTT.Utils.h"

// ---------------------------------------------------------------------------
// Worker

TNeloMQTTWorkerThread::TNeloMQTTWorkerThread(TNeloMQTTTransport* AConnection,
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
  Signal();
}

void TNeloMQTTWorkerThread::Wake() {
  {
    std::lock_guard<std::mutex> lock(FSleepLock);
    FWakeRequested = true;
  }
  FSleep.notify_all();
  Signal();
}

bool TNeloMQTTWorkerThread::TakeWakeRequest() {
  std::lock_guard<std::mutex> lock(FSleepLock);
  const bool woken = FWakeRequested;
  FWakeRequested = false;
  return woken;
}

int TNeloMQTTWorkerThread::PauseUntil(int64_t AMs) const {
  if (AMs <= 0) return 0;
  if (NeloClockReplaced()) return static_cast<int>(std::min<int64_t>(AMs, FRunInterval));
  return static_cast<int>(std::min<int64_t>(AMs, INT32_MAX));
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

void TNeloMQTTWorkerThread::WaitForWork(int AMs) {
  std::unique_lock<std::mutex> lock(FSleepLock);
  FSleep.wait_for(lock, std::chrono::milliseconds(AMs),
                  [this] { return FTerminated.load() || FWakeRequested; });
  FWakeRequested = false;
}

void TNeloMQTTWorkerThread::Execute() {
  TNeloMQTTLogHelper::Info(Logger(), this, TNeloMQTTEngineTexts::kThreadStarted);
  // A pass runs when there is work: each worker waits for its own signal
  // (the socket, a queued packet, an acknowledgement, its next deadline),
  // and the wait is cut short by Wake and Terminate.
  while (!Terminated()) {
    if (!Paused()) {
      try {
        DoWork();
      } catch (const std::exception& e) {
        TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kThreadPassFailed, &e);
      } catch (...) {
        TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kThreadPassFailed);
      }
    }
    if (Terminated()) break;
    // Paused: only a flag change (Wake) or termination ends the wait.
    const int pause = Paused() ? 1000 : PauseAfterPass();
    if (pause > 0) WaitForWork(pause);
  }
  TNeloMQTTLogHelper::Info(Logger(), this, TNeloMQTTEngineTexts::kThreadStopped);
  FFinished.store(true);
  // The main thread may be serving hand-offs until this thread is through
  // (WaitFor): it need not wait out its pause.
  NeloInterruptCheckSynchronize();
}

// ---------------------------------------------------------------------------
// Reader

TNeloMQTTReaderThread::TNeloMQTTReaderThread(TNeloMQTTTransport* AConnection,
                                             TNeloMQTTNeloMQTTClientSession* ASession, TNeloMQTTLogger* ALog)
    : TNeloMQTTWorkerThread(AConnection, ASession, ALog) {
  FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FSession) FSession->SetOnAnswersDrained([this] { Wake(); });
  Start();
}

TNeloMQTTReaderThread::~TNeloMQTTReaderThread() {
  if (FSession) FSession->SetOnAnswersDrained(nullptr);
  Stop();
  if (FWakeFd >= 0) ::close(FWakeFd);
}

void TNeloMQTTReaderThread::Signal() {
  if (FWakeFd < 0) return;
  const uint64_t one = 1;
  ssize_t written;
  do {
    written = ::write(FWakeFd, &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

void TNeloMQTTReaderThread::Reset() {
  FResetRequested.store(true);
  Wake();
}

int TNeloMQTTReaderThread::PauseAfterPass() {
  // Inside a frame the wait ends when its rest is overdue.
  if (FSession->InFrame() && FLastData != 0)
    return std::max(PauseUntil(FLastData + kFrameTimeoutMs - NeloNowMs()), 1);
  return kWaitMs;
}

void TNeloMQTTReaderThread::WaitForWork(int AMs) {
  // Paused, or held back until the writer has sent the answers queued so
  // far: only a Wake (resuming, the backlog drained) or termination ends it.
  if (Paused() || FConnection == nullptr || FWakeFd < 0 || FSession->AnswersBacklogged()) {
    TNeloMQTTWorkerThread::WaitForWork(AMs);
    return;
  }
  // The socket or the wake-up descriptor (pausing, termination), whichever
  // comes first.
  if (!TakeWakeRequest()) FConnection->WaitForData(AMs, FWakeFd);
  uint64_t count;
  while (::read(FWakeFd, &count, sizeof count) > 0) {
  }
  TakeWakeRequest();
}

void TNeloMQTTReaderThread::SetOnBytesReceived(TNeloBytesEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnBytesReceived = std::move(AEvent);
}

std::size_t TNeloMQTTReaderThread::NotifyBytesReceived(const uint8_t* AData, std::size_t ASize) {
  TNeloBytesEvent event;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    event = FOnBytesReceived;
  }
  return event ? event(this, AData, ASize) : ASize;
}

void TNeloMQTTReaderThread::DoWork() {
  if (FConnection == nullptr) {
    TNeloMQTTLogHelper::Warning(Logger(), this, TNeloMQTTEngineTexts::kInDisconnected);
    return;
  }
  if (FResetRequested.exchange(false)) {
    FPending.clear();
    FPendingPos = 0;
    FLastData = 0;
  }
  try {
    while (!Paused() && !Terminated()) {
      if (FPendingPos == FPending.size()) {
        FPending.clear();
        FPendingPos = 0;
        if (FSession->AnswersBacklogged()) break;
        if (!FConnection->HasData()) break;
        FConnection->ReadSome(FPending, kChunkBytes);
        FLastData = NeloNowMs();
        if (FPending.empty()) break;
      } else if (FSession->AnswersBacklogged()) {
        break;
      }
      std::size_t taken = 0;
      const uint8_t* data = FPending.data() + FPendingPos;
      const std::size_t size = FPending.size() - FPendingPos;
      NeloSynchronize([this, data, size, &taken] { taken = NotifyBytesReceived(data, size); });
      FPendingPos += std::min(taken, size);
      // Held back: the rest waits until the writer has sent the answers.
      if (taken == 0) break;
    }
    // A frame whose rest does not come leaves the stream out of step: close
    // the transport so the loss is reported and a reconnect can start over
    // on a clean stream.
    if (!Paused() && FSession->InFrame() && FPendingPos == FPending.size() && FLastData != 0 &&
        NeloNowMs() - FLastData >= kFrameTimeoutMs && FConnection->IsReady())
      throw ENeloMQTTReadTimeout();
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kInReadException, &e);
    FPending.clear();
    FPendingPos = 0;
    FLastData = 0;
    if (FConnection->IsReady()) FConnection->Close();
  }
}

// ---------------------------------------------------------------------------
// Writer

TNeloMQTTWriterThread::TNeloMQTTWriterThread(TNeloMQTTTransport* AConnection,
                                             TNeloMQTTNeloMQTTClientSession* ASession, TNeloMQTTLogger* ALog)
    : TNeloMQTTWorkerThread(AConnection, ASession, ALog) {
  if (FSession) FSession->SetOnPacketQueued([this] { Wake(); });
  Start();
}

TNeloMQTTWriterThread::~TNeloMQTTWriterThread() {
  if (FSession) FSession->SetOnPacketQueued(nullptr);
  Stop();
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

void TNeloMQTTWriterThread::SetLastSentPacketInfo(const TNeloMQTTPacketInfo& AInfo) {
  std::lock_guard<std::mutex> lock(FLock);
  FLastSentPacketInfo = AInfo;
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
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kOutSentNotificationFailed, &e);
  } catch (...) {
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kOutSentNotificationFailed);
  }
}

bool TNeloMQTTWriterThread::WritePacket(const TNeloMQTTBytes& ABytes) {
  try {
    // The time of a send is taken as it starts.
    const int64_t now = NeloNowMs();
    // Not ready: the transport would drop the bytes.
    if (!FConnection->IsReady()) return false;
    FSession->SetLastWriteCommunicationTime(now);
    FConnection->Write(ABytes);
    {
      std::lock_guard<std::mutex> lock(FLock);
      FLastSentTime = now;
    }
    return true;
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kOutWriteException, &e);
    return false;
  }
}

void TNeloMQTTWriterThread::DoWork() {
  if (FConnection == nullptr || !FConnection->IsReady()) return;
  TQueuedWrite write;
  // In the order the core wrote them, each packet in one write.
  while (!Terminated() && !Paused() && FSession->TakeWrite(write)) {
    if (write.HasInfo) SetLastSentPacketInfo(write.Info);
    const bool sent = WritePacket(write.Bytes);
    FSession->WriteDone(write, sent);
    // The transport reports the loss; what is queued belonged to it.
    if (!sent) break;
    if (write.HasInfo) NotifyPacketSent();
  }
}

// ---------------------------------------------------------------------------
// Keep-alive

TNeloMQTTKeepAliveThread::TNeloMQTTKeepAliveThread(TNeloMQTTTransport* AConnection,
                                                   TNeloMQTTNeloMQTTClientSession* ASession,
                                                   TNeloMQTTLogger* ALog)
    : TNeloMQTTWorkerThread(AConnection, ASession, ALog) {
  Start();
}

TNeloMQTTKeepAliveThread::~TNeloMQTTKeepAliveThread() { Stop(); }

void TNeloMQTTKeepAliveThread::SetOnRequestTick(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnRequestTick = std::move(AEvent);
}

void TNeloMQTTKeepAliveThread::SetOnRequestReconnect(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnRequestReconnect = std::move(AEvent);
}

void TNeloMQTTKeepAliveThread::Raise(TNeloNotifyEvent& AEvent) {
  TNeloNotifyEvent event;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    event = AEvent;
  }
  if (event) event(this);
}

int TNeloMQTTKeepAliveThread::PauseAfterPass() {
  const int64_t now = NeloNowMs();
  int64_t next = now + kPassPauseMs;
  if (FSession->HasActiveNetworkConnection()) {
    const int64_t deadline = FSession->CoreDeadline();
    // A deadline handed over and not moved is looked at again after a pause.
    next = std::min(next, deadline == FLastTickDeadline ? now + RunInterval() : deadline);
  } else if (ShouldTryReconnect()) {
    next = std::min(
        next, FSession->LastWriteCommunicationTime() + static_cast<int64_t>(ReconnectInterval()) * 1000);
  }
  return std::max(PauseUntil(next - now), 1);
}

void TNeloMQTTKeepAliveThread::DoWork() {
  const int64_t now = NeloNowMs();
  if (!FSession->HasActiveNetworkConnection() && ShouldTryReconnect() &&
      FSession->LastWriteCommunicationTime() + static_cast<int64_t>(ReconnectInterval()) * 1000 <= now) {
    TNeloMQTTLogHelper::Info(Logger(), this, TNeloMQTTEngineTexts::kKeepAliveReconnect);
    try {
      NeloSynchronize([this] { Raise(FOnRequestReconnect); });
    } catch (const std::exception& e) {
      TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kKeepAliveReconnectFailed, &e);
    }
    FSession->SetLastWriteCommunicationTime(now);
  }
  if (FSession->HasActiveNetworkConnection()) {
    const int64_t deadline = FSession->CoreDeadline();
    if (deadline <= now) {
      FLastTickDeadline = deadline;
      try {
        NeloSynchronize([this] { Raise(FOnRequestTick); });
      } catch (const std::exception& e) {
        TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kKeepAlivePingFailed, &e);
      }
    }
  }
}
