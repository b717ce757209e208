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
#include "Nelo.MQTT.FrameCutter.h"
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
    TNeloMQTTLogHelper::Warning(Logger(), this, TNeloMQTTEngineTexts::kInDisconnected);
    return;
  }
  bool inFrame = false;
  int batched = 0;
  try {
    while (!Paused() && !Terminated() && !FSession->AnswersBacklogged() && FConnection->HasData()) {
      TNeloMQTTLogger* log = Logger();
      TNeloMQTTLogHelper::Debug(log, this, TNeloMQTTEngineTexts::kInDataDetected);
      uint8_t first = 0;
      FConnection->Read(first);
      TNeloMQTTLogHelper::Debug(log, this, TNeloMQTTEngineTexts::kInFirstByte, first);
      if (first != 0) {
        inFrame = true;
        TNeloMQTTLogHelper::Debug(log, this, TNeloMQTTEngineTexts::kInReadingLength);
        TNeloMQTTBytes buffer;
        // The header is cut by the frame cutter: the length is checked
        // against the cap as soon as it is known, before the body is read.
        TNeloMQTTFrameCutter cutter(FSession->MaxIncomingPacketSize());
        cutter.Feed(&first, 1);
        while (!cutter.LengthKnown()) {
          const std::size_t before = buffer.size();
          FConnection->Read(buffer, 1, true);
          if (buffer.size() == before) throw ENeloMQTTConnectionClosed();
          TNeloMQTTLogHelper::Debug(log, this, TNeloMQTTEngineTexts::kInLengthByte, buffer.back());
          cutter.Feed(&buffer.back(), 1);
        }
        const uint32_t length = cutter.RemainingLength();
        TNeloMQTTLogHelper::Debug(log, this, TNeloMQTTEngineTexts::kInGotLength + std::to_string(length));
        if (length > 0) {
          TNeloMQTTLogHelper::Debug(log, this,
                                    TNeloMQTTEngineTexts::kInStartReading + std::to_string(length) +
                                        TNeloMQTTEngineTexts::kInBytesSuffix);
          FConnection->Read(buffer, static_cast<std::size_t>(length), false);
          TNeloMQTTLogHelper::Debug(log, this,
                                    TNeloMQTTEngineTexts::kInEndReading + std::to_string(buffer.size()));
        } else {
          buffer.clear();
        }
        FSession->AddIncomingPacket(first, std::move(buffer));
        TNeloMQTTLogHelper::Debug(log, this, TNeloMQTTEngineTexts::kInQueued);
        inFrame = false;
      }
      // Frames already in the input buffer are cut first and handed over
      // together (the main thread dispatches them in order, one by one);
      // otherwise after each frame.
      if (first != 0 && ++batched < kBatchFrames && FConnection->HasBufferedData()) continue;
      batched = 0;
      NeloSynchronize([this] { NotifyPacketReceived(); });
    }
    if (batched > 0) NeloSynchronize([this] { NotifyPacketReceived(); });
  } catch (const std::exception& e) {
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kInReadException, &e);
    // A frame cut short (time-out, malformed length) leaves the stream out of
    // step: close the transport so the loss is reported and a reconnect can
    // start over on a clean stream.
    if (inFrame && FConnection->IsReady()) FConnection->Close();
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

int TNeloMQTTWriterThread::PauseAfterPass() {
  // Queued packets, acknowledgements and resuming wake the writer; what it
  // waits for by itself is the next resend.
  if (FConnection == nullptr || !FConnection->IsReady()) return kIdlePauseMs;
  const int64_t due = FSession->NextResendDue(kRetryIntervalMs);
  if (due == 0) return kIdlePauseMs;
  return std::max(PauseUntil(due - NeloNowMs()), 1);
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
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kOutSentNotificationFailed, &e);
  } catch (...) {
    TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kOutSentNotificationFailed);
  }
}

bool TNeloMQTTWriterThread::WritePacket(const TQueuedOutPacket& APacket) {
  try {
    // The time of a send is taken as it starts.
    const int64_t now = NeloNowMs();
    // Stamped before the write as well as by the client's handler, so the
    // keep-alive sees every send, also one whose answer is handled before
    // this thread returns from the write, and when no one listens for sent
    // packets.
    // Not ready: the transport would drop the bytes. Checked before the
    // write, not after: a peer that closes right after taking the packet
    // has still received it (its resend must carry the DUP flag).
    if (!FConnection->IsReady()) return false;
    FSession->SetLastWriteCommunicationTime(now);
    FConnection->Write(APacket.Packet());
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

TNeloMQTTWriterThread::TSendResult TNeloMQTTWriterThread::SendQoS0Packet(
    std::unique_ptr<TQueuedOutPacket>& APacket) {
  TNeloMQTTLogHelper::Debug(Logger(), this, TNeloMQTTEngineTexts::kOutQoS0Sending, APacket->Packet());
  // The oldest unanswered ping sets the deadline for its PINGRESP (stamped
  // before the write: the answer may be handled before the write returns).
  if (APacket->PacketType() == mtPINGREQ && FSession->PingSentTime() == 0)
    FSession->SetPingSentTime(std::max<int64_t>(NeloNowMs(), 1));
  if (!WritePacket(*APacket)) return srTransportFailed;
  FSession->ReleaseOutPacket(std::move(APacket));
  NotifyPacketSent();
  return srDone;
}

TNeloMQTTWriterThread::TSendResult TNeloMQTTWriterThread::SendQoSnPacket(
    std::unique_ptr<TQueuedOutPacket>& APacket) {
  const std::string qosText =
      APacket->Qos() == qosExactlyOnce ? TNeloMQTTEngineTexts::kOutQoS2 : TNeloMQTTEngineTexts::kOutQoS1;
  const std::string idText = std::to_string(APacket->PacketId());
  if (FSession->IsAcknowlegded(APacket->PacketId(), APacket->PacketType(), true)) {
    TNeloMQTTLogHelper::Debug(
        Logger(), this,
        TNeloMQTTEngineTexts::kOutPacket + idText + qosText + TNeloMQTTEngineTexts::kOutAcknowledged);
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
          Logger(), this, TNeloMQTTEngineTexts::kOutPacket + idText + TNeloMQTTEngineTexts::kOutQoS2Failed);
    else
      TNeloMQTTLogHelper::Error(
          Logger(), this, TNeloMQTTEngineTexts::kOutPacket + idText + TNeloMQTTEngineTexts::kOutQoS1Failed);
    FSession->ReleaseOutPacket(std::move(APacket));
    return srDone;
  }
  TNeloMQTTLogHelper::Debug(Logger(), this,
                            TNeloMQTTEngineTexts::kOutPacket + idText + qosText +
                                TNeloMQTTEngineTexts::kOutSendingAttempt + std::to_string(APacket->Attempt()),
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
      TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kOutRefused, &error);
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
    TNeloMQTTLogHelper::Debug(Logger(), this, TNeloMQTTEngineTexts::kOutQoS0Sending, connect->Packet());
    // Stamped before the write: the CONNACK may be handled before the write returns.
    FSession->SetConnectSentTime(std::max<int64_t>(NeloNowMs(), 1));
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

TNeloMQTTKeepAliveThread::TNeloMQTTKeepAliveThread(TNeloMQTTTransport* AConnection,
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

void TNeloMQTTKeepAliveThread::SetOnRequestClose(TNeloNotifyEvent AEvent) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnRequestClose = std::move(AEvent);
}

void TNeloMQTTKeepAliveThread::RequestClose() {
  TNeloNotifyEvent event;
  {
    std::lock_guard<std::mutex> lock(FEventLock);
    event = FOnRequestClose;
  }
  if (event) event(this);
}

int TNeloMQTTKeepAliveThread::PauseAfterPass() {
  const int64_t now = NeloNowMs();
  int64_t next = now + kPassPauseMs;
  auto consider = [&](int64_t ADeadline) { next = std::min(next, ADeadline); };
  const int64_t lastWrite = FSession->LastWriteCommunicationTime();
  if (FSession->HasActiveNetworkConnection()) {
    if (ShouldKeepConnectionAlive())
      consider(lastWrite + (static_cast<int64_t>(KeepAliveInterval()) + 1) * 1000);
    if (FSession->ConnectSentTime() != 0) consider(FSession->ConnectSentTime() + kConnAckTimeoutMs);
    if (FSession->PingSentTime() != 0) consider(FSession->PingSentTime() + PingAnswerMs());
  } else if (ShouldTryReconnect()) {
    consider(lastWrite + static_cast<int64_t>(ReconnectInterval()) * 1000);
  }
  return std::max(PauseUntil(next - now), 1);
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
    TNeloMQTTLogHelper::Info(Logger(), this, TNeloMQTTEngineTexts::kKeepAliveReconnect);
    try {
      NeloSynchronize([this] { RequestReconnect(); });
    } catch (const std::exception& e) {
      TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kKeepAliveReconnectFailed, &e);
    }
    FSession->SetLastWriteCommunicationTime(now);
  }
  if (FSession->HasActiveNetworkConnection() && ShouldKeepConnectionAlive() &&
      FSession->LastWriteCommunicationTime() + (static_cast<int64_t>(KeepAliveInterval()) + 1) * 1000 <=
          now) {
    TNeloMQTTLogHelper::Debug(Logger(), this, TNeloMQTTEngineTexts::kKeepAlivePing);
    try {
      NeloSynchronize([this] { RequestPing(); });
    } catch (const std::exception& e) {
      TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kKeepAlivePingFailed, &e);
    }
    FSession->SetLastWriteCommunicationTime(now);
  }
  // A peer that answers neither the CONNECT nor a ping within its time is
  // gone: the connection is closed (and auto-reconnect applies).
  if (FSession->HasActiveNetworkConnection()) {
    const int64_t connectSent = FSession->ConnectSentTime();
    const int64_t pingSent = FSession->PingSentTime();
    if ((connectSent != 0 && connectSent + kConnAckTimeoutMs <= now) ||
        (pingSent != 0 && pingSent + PingAnswerMs() <= now)) {
      FSession->SetConnectSentTime(0);
      FSession->SetPingSentTime(0);
      try {
        NeloSynchronize([this] { RequestClose(); });
      } catch (const std::exception& e) {
        TNeloMQTTLogHelper::Error(Logger(), this, TNeloMQTTEngineTexts::kKeepAliveCloseFailed, &e);
      }
    }
  }
}
