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

namespace {
// The frame time-out is the transport's read time-out: real time, whatever
// clock the engine runs on.
int64_t RealNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

int TNeloMQTTReaderThread::PauseAfterPass() {
  // Inside a frame the wait ends when its rest is overdue.
  if (InsideFrame() && FLastData != 0)
    return static_cast<int>(std::clamp<int64_t>(FLastData + kFrameTimeoutMs - RealNowMs(), 1, kWaitMs));
  return kWaitMs;
}

bool TNeloMQTTReaderThread::InsideFrame() const { return FScanState != 0 || FPendingPos < FPending.size(); }

void TNeloMQTTReaderThread::ScanFrames() {
  // Frame boundaries only (first byte, remaining length, body length); what
  // the frames are is the core's to find.
  while (FScanPos < FPending.size()) {
    if (FScanState == 0) {
      const uint8_t first = FPending[FScanPos++];
      // A zero byte between frames starts none.
      if (first == 0) {
        FCompleteEnd = FScanPos;
        continue;
      }
      FScanState = 1;
      FScanLength = 0;
      FScanLengthBytes = 0;
    } else if (FScanState == 1) {
      const uint8_t byte = FPending[FScanPos++];
      FScanLength |= static_cast<std::size_t>(byte & 0x7F) << (7 * FScanLengthBytes);
      ++FScanLengthBytes;
      if ((byte & 0x80) != 0) {
        if (FScanLengthBytes < 4) continue;
        // Malformed: all of it goes to the core, which ends the connection.
        FScanPos = FCompleteEnd = FPending.size();
        FScanState = 0;
        return;
      }
      FScanLeft = FScanLength;
      FScanState = 2;
      if (FScanLeft == 0) {
        FScanState = 0;
        FCompleteEnd = FScanPos;
      }
    } else {
      const std::size_t take = std::min(FScanLeft, FPending.size() - FScanPos);
      FScanPos += take;
      FScanLeft -= take;
      if (FScanLeft == 0) {
        FScanState = 0;
        FCompleteEnd = FScanPos;
      }
    }
  }
}

std::size_t TNeloMQTTReaderThread::HandOverEnd() const {
  // Whole frames; a large frame also in pieces as it comes (the core reads
  // past a message above its cap without keeping it).
  if (FScanState == 2 && (FScanLength > kChunkBytes || FScanLength > FSession->MaxIncomingPacketSize()))
    return FPending.size();
  return FCompleteEnd;
}

void TNeloMQTTReaderThread::ClearPending() {
  FPending.clear();
  FPendingPos = FScanPos = FCompleteEnd = 0;
  FScanState = 0;
  FScanLength = FScanLeft = 0;
  FScanLengthBytes = 0;
  FLastData = 0;
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
  if (FResetRequested.exchange(false)) ClearPending();
  try {
    while (!Paused() && !Terminated()) {
      const std::size_t end = HandOverEnd();
      if (FPendingPos >= end) {
        if (FSession->AnswersBacklogged()) break;
        if (!FConnection->HasData()) break;
        FConnection->ReadSome(FPending, kChunkBytes);
        FLastData = RealNowMs();
        ScanFrames();
        continue;
      }
      if (FSession->AnswersBacklogged()) break;
      std::size_t taken = 0;
      const uint8_t* data = FPending.data() + FPendingPos;
      const std::size_t size = end - FPendingPos;
      NeloSynchronize([this, data, size, &taken] { taken = NotifyBytesReceived(data, size); });
      FPendingPos += std::min(taken, size);
      if (FPendingPos == FPending.size()) {
        FPending.clear();
        FPendingPos = FScanPos = FCompleteEnd = 0;
      } else if (FPendingPos >= 65536) {
        FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(FPendingPos));
        FScanPos -= FPendingPos;
        FCompleteEnd -= std::min(FCompleteEnd, FPendingPos);
        FPendingPos = 0;
      }
      // Held back: the rest waits until the writer has sent the answers.
      if (taken == 0) break;
    }
    // A frame whose rest does not come leaves the stream out of step: close
    // the transport so the loss is reported and a reconnect can start over
    // on a clean stream.
    if (!Paused() && InsideFrame() && FLastData != 0 && RealNowMs() - FLastData >= kFrameTimeoutMs &&
        FConnection->IsReady())
      throw ENeloMQTTReadTimeout();
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kInReadException, &e);
    ClearPending();
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
    FSession->WriteDone(std::move(write), sent);
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
