// The worker threads of the client: reader, writer and keep-alive.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Nelo.MQTT.Clock.h"
#include "Nelo.MQTT.Global.h"
#include "Nelo.MQTT.HandOff.h"

class TNeloMQTTTransport;
class TNeloMQTTLogger;
class TNeloMQTTNeloMQTTClientSession;

// ---------------------------------------------------------------------------
// Workers

// A thread that runs DoWork when there is work, until terminated. After a
// pass it waits until Wake (work was queued, a flag changed), Terminate, or
// the pause its class asks for (PauseAfterPass) runs out. A paused worker
// keeps looping but skips DoWork. Concrete classes start the thread at the
// end of their constructor and stop it at the start of their destructor.
class TNeloMQTTWorkerThread : public TNeloObject {
 public:
  TNeloMQTTWorkerThread(TNeloMQTTTransport* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                        TNeloMQTTLogger* ALog);
  ~TNeloMQTTWorkerThread() override;
  TNeloMQTTWorkerThread(const TNeloMQTTWorkerThread&) = delete;
  TNeloMQTTWorkerThread& operator=(const TNeloMQTTWorkerThread&) = delete;

  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  // Waits for the thread to end. On the main thread it keeps serving
  // hand-offs meanwhile, so a worker blocked in one can finish.
  void WaitFor();
  bool Finished() const { return FFinished.load(); }

  bool Paused() const { return FPaused.load(); }
  void SetPaused(bool AValue) {
    FPaused.store(AValue);
    Wake();
  }
  void SetLogger(TNeloMQTTLogger* ALogger) { FLogger.store(ALogger); }
  int RunInterval() const { return FRunInterval; }
  // Cuts the current pause short: the next pass starts at once.
  void Wake();

 protected:
  void Start();
  // Terminates and waits; concrete classes call it first in their destructor.
  void Stop();
  virtual void Execute();
  virtual void DoWork() = 0;
  // The longest wait after the pass just made, in ms; RunInterval by default.
  virtual int PauseAfterPass() { return FRunInterval; }
  // Waits up to AMs for a Wake or Terminate. The reader waits on its socket
  // as well.
  virtual void WaitForWork(int AMs);
  // Called by Wake and Terminate after the flag is set (the reader pokes its
  // wake-up descriptor).
  virtual void Signal() {}
  // Takes the pending wake-up, if any.
  bool TakeWakeRequest();
  // A wait bounded for a deadline AMs of engine time away: a replaced clock
  // gives no real-time deadlines, so the wait is then RunInterval at most.
  int PauseUntil(int64_t AMs) const;
  TNeloMQTTLogger* Logger() const { return FLogger.load(); }

  TNeloMQTTTransport* FConnection;
  TNeloMQTTNeloMQTTClientSession* FSession;

 private:
  std::atomic<TNeloMQTTLogger*> FLogger;
  int FRunInterval = 10;
  std::atomic<bool> FPaused{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FWakeRequested = false;  // guarded by FSleepLock
  std::mutex FSleepLock;
  std::condition_variable FSleep;
  std::thread FThread;
};

using TNeloNotifyEvent = std::function<void(TNeloObject* ASender)>;
// Received bytes handed to the main thread; returns how many were taken
// (fewer while the answers written so far wait for the writer).
using TNeloBytesEvent =
    std::function<std::size_t(TNeloObject* ASender, const uint8_t* AData, std::size_t ASize)>;

// Takes what the broker sends and hands it to the main thread, where the
// protocol core cuts it into frames and acts on them.
class TNeloMQTTReaderThread final : public TNeloMQTTWorkerThread {
 public:
  // Longest wait on the socket; Wake and Terminate cut it short.
  static constexpr int kWaitMs = 1000;
  // Most frames of answers taken in beyond the backlog before the reader
  // holds back (bounds the answers queued, with kAnswerBacklog).
  static constexpr int kBatchFrames = 64;
  // Most bytes handed over at once.
  static constexpr std::size_t kChunkBytes = 16384;
  // A frame whose rest does not come within this long ends the connection
  // (the stream is out of step otherwise).
  static constexpr int64_t kFrameTimeoutMs = 5000;
  TNeloMQTTReaderThread(TNeloMQTTTransport* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                        TNeloMQTTLogger* ALog);
  ~TNeloMQTTReaderThread() override;
  std::string ClassName() const override { return "TNeloMQTTReaderThread"; }

  // Set before the thread does work (the client binds it right after creation).
  void SetOnBytesReceived(TNeloBytesEvent AEvent);
  // A new connection: what was kept of the last one's bytes goes.
  void Reset();

 protected:
  void DoWork() override;
  int PauseAfterPass() override;
  void WaitForWork(int AMs) override;
  void Signal() override;

 private:
  std::size_t NotifyBytesReceived(const uint8_t* AData, std::size_t ASize);
  // Follows the frame boundaries of what was read (FScanPos on); bytes up to
  // FCompleteEnd make whole frames.
  void ScanFrames();
  std::size_t HandOverEnd() const;
  bool InsideFrame() const;
  void ClearPending();
  int FWakeFd = -1;
  std::mutex FEventLock;
  TNeloBytesEvent FOnBytesReceived;
  // Bytes read and not yet taken by the core (held back by the backlog).
  TNeloMQTTBytes FPending;
  std::size_t FPendingPos = 0;
  std::atomic<bool> FResetRequested{false};
  std::size_t FScanPos = 0;
  std::size_t FCompleteEnd = 0;
  int FScanState = 0;  // 0: first byte, 1: remaining length, 2: body
  std::size_t FScanLength = 0;
  std::size_t FScanLeft = 0;
  int FScanLengthBytes = 0;
  // Real time of the last bytes read (the frame time-out), 0: none.
  int64_t FLastData = 0;
};

// Sends what the core wrote, in order, one packet per write, and hands the
// sent-packet notices to the main thread.
class TNeloMQTTWriterThread final : public TNeloMQTTWorkerThread {
 public:
  static constexpr int kMaxAttempts = 10;
  static constexpr int64_t kRetryIntervalMs = 10000;

  TNeloMQTTWriterThread(TNeloMQTTTransport* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                        TNeloMQTTLogger* ALog);
  ~TNeloMQTTWriterThread() override;
  std::string ClassName() const override { return "TNeloMQTTWriterThread"; }

  // With nothing queued the writer waits this long at most; queueing a
  // packet or resuming wakes it at once.
  static constexpr int kIdlePauseMs = 1000;

  void SetOnPacketSent(TNeloNotifyEvent AEvent);
  // Copy of the info of the last packet the writer took up.
  TNeloMQTTPacketInfo LastSentPacketInfo();
  // Engine-clock time at which the last packet's write began.
  int64_t LastSentTime();

 protected:
  void DoWork() override;
  int PauseAfterPass() override { return kIdlePauseMs; }

 private:
  bool WritePacket(const TNeloMQTTBytes& ABytes);
  void SetLastSentPacketInfo(const TNeloMQTTPacketInfo& AInfo);
  void NotifyPacketSent();

  std::mutex FLock;
  TNeloMQTTPacketInfo FLastSentPacketInfo;
  int64_t FLastSentTime = 0;
  TNeloNotifyEvent FOnPacketSent;
};

// Asks the main thread to act when the core's next deadline has come (ping,
// resends, CONNACK and PINGRESP time-outs), and to reconnect every
// ReconnectInterval s while the transport is down.
class TNeloMQTTKeepAliveThread final : public TNeloMQTTWorkerThread {
 public:
  TNeloMQTTKeepAliveThread(TNeloMQTTTransport* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                           TNeloMQTTLogger* ALog);
  ~TNeloMQTTKeepAliveThread() override;
  std::string ClassName() const override { return "TNeloMQTTKeepAliveThread"; }

  bool ShouldTryReconnect() const { return FShouldTryReconnect.load(); }
  void SetShouldTryReconnect(bool AValue) {
    FShouldTryReconnect.store(AValue);
    Wake();
  }
  int ReconnectInterval() const { return FReconnectInterval.load(); }
  void SetReconnectInterval(int AValue) {
    FReconnectInterval.store(AValue);
    Wake();
  }
  // The keep-alive itself is the core's (its settings come with the
  // CONNECT); these are kept for the application that reads them.
  bool ShouldKeepConnectionAlive() const { return FShouldKeepConnectionAlive.load(); }
  void SetShouldKeepConnectionAlive(bool AValue) {
    FShouldKeepConnectionAlive.store(AValue);
    Wake();
  }
  int KeepAliveInterval() const { return FKeepAliveInterval.load(); }
  void SetKeepAliveInterval(int AValue) {
    FKeepAliveInterval.store(AValue);
    Wake();
  }

  // Raised (on the main thread) when the core's deadline has come.
  void SetOnRequestTick(TNeloNotifyEvent AEvent);
  void SetOnRequestReconnect(TNeloNotifyEvent AEvent);

  // Longest sleep between passes; the next deadline usually comes first.
  static constexpr int kPassPauseMs = 1000;

 protected:
  void DoWork() override;
  int PauseAfterPass() override;

 private:
  void Raise(TNeloNotifyEvent& AEvent);

  std::atomic<bool> FShouldTryReconnect{false};
  std::atomic<int> FReconnectInterval{30};
  std::atomic<bool> FShouldKeepConnectionAlive{false};
  std::atomic<int> FKeepAliveInterval{120};
  std::mutex FEventLock;
  TNeloNotifyEvent FOnRequestTick;
  TNeloNotifyEvent FOnRequestReconnect;
  // The deadline last handed over; a deadline the main thread did not move
  // is handed over again only after a pause.
  int64_t FLastTickDeadline = 0;
};
