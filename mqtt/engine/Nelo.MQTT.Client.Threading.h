// The engine's threads: the blocking hand-off to the main thread, the clock
// every deadline is measured with, and the worker threads of the client
// (reader, writer, keep-alive).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Nelo.MQTT.Global.h"

class TNeloMQTTNetworkConnection;
class TNeloMQTTLogger;
class TNeloMQTTNeloMQTTClientSession;
class TQueuedOutPacket;

// ---------------------------------------------------------------------------
// Blocking hand-off

// Runs AStep on the main thread and blocks until it has run there; an exception
// thrown by the step is rethrown here. Called on the main thread, runs AStep at once.
void NeloSynchronize(const std::function<void()>& AStep);
// On the main thread: runs every waiting step, waiting up to ATimeoutMs for the
// first one; returns true when at least one ran.
bool NeloCheckSynchronize(int ATimeoutMs = 0);
// Host hook, called on the worker thread right after it queued a step, so the
// host can wake its main loop (the console posts a queued call of
// NeloCheckSynchronize() into the Qt event loop). Unset: nothing is called.
void NeloSetWakeMainThread(std::function<void()> AWake);
// Makes the calling thread the main thread (the default is the thread that ran
// static initialisation, i.e. main()).
void NeloSetMainThread();

// Whether the calling thread is the main thread.
bool NeloIsMainThread();
// Puts AStep before the main thread without waiting for it (on the main thread
// it runs at once). Errors it raises are dropped. AOwner tags the step for
// NeloCancelQueued.
void NeloQueueOnMainThread(const void* AOwner, std::function<void()> AStep);
// Discards the steps queued by NeloQueueOnMainThread for AOwner that have not
// run yet (an object going away calls it for itself).
void NeloCancelQueued(const void* AOwner);

// ---------------------------------------------------------------------------
// Clock: monotonic milliseconds. Every retry, keep-alive and reconnect
// deadline is measured with it, so tests can drive them with a clock of their
// own. An empty function restores the system's monotonic clock.
int64_t NeloNowMs();
void NeloSetClock(std::function<int64_t()> ANow);

// ---------------------------------------------------------------------------
// Workers

// A thread that runs DoWork every RunInterval ms until terminated. The pause
// between passes is cut short by Terminate. A paused worker keeps looping but
// skips DoWork. Concrete classes start the thread at the end of their
// constructor and stop it at the start of their destructor.
class TNeloMQTTWorkerThread : public TNeloObject {
 public:
  TNeloMQTTWorkerThread(TNeloMQTTNetworkConnection* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
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
  void SetPaused(bool AValue) { FPaused.store(AValue); }
  void SetLogger(TNeloMQTTLogger* ALogger) { FLogger.store(ALogger); }
  int RunInterval() const { return FRunInterval; }
  // Cuts the current pause short: the next pass starts at once.
  void Wake();

 protected:
  void Start();
  // Offset of this worker's passes within the RunInterval grid (before Start).
  void SetPhase(int AMs) { FPhaseMs = AMs; }
  // Terminates and waits; concrete classes call it first in their destructor.
  void Stop();
  virtual void Execute();
  virtual void DoWork() = 0;
  // The pause after the pass just made, a multiple of RunInterval (so
  // passes stay on their grid); RunInterval by default.
  virtual int PauseAfterPass() { return FRunInterval; }
  TNeloMQTTLogger* Logger() const { return FLogger.load(); }

  TNeloMQTTNetworkConnection* FConnection;
  TNeloMQTTNeloMQTTClientSession* FSession;

 private:
  std::atomic<TNeloMQTTLogger*> FLogger;
  int FRunInterval = 10;
  int FPhaseMs = 0;
  std::atomic<bool> FPaused{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FWakeRequested = false;  // guarded by FSleepLock
  std::mutex FSleepLock;
  std::condition_variable FSleep;
  std::thread FThread;
};

using TNeloNotifyEvent = std::function<void(TNeloObject* ASender)>;

// Cuts the received byte stream into frames and queues them in the session;
// hands OnPacketReceived to the main thread after each frame.
class TNeloMQTTReaderThread final : public TNeloMQTTWorkerThread {
 public:
  TNeloMQTTReaderThread(TNeloMQTTNetworkConnection* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                        TNeloMQTTLogger* ALog);
  ~TNeloMQTTReaderThread() override;
  std::string ClassName() const override { return "TNeloMQTTReaderThread"; }

  // Set before the thread does work (the client binds it right after creation).
  void SetOnPacketReceived(TNeloNotifyEvent AEvent);

 protected:
  void DoWork() override;

 private:
  void NotifyPacketReceived();
  std::mutex FEventLock;
  TNeloNotifyEvent FOnPacketReceived;
};

// Sends queued packets and carries out the sender's side of QoS 1 and 2:
// wait for the acknowledgement, resend every 10 s, give up after 10 sends.
class TNeloMQTTWriterThread final : public TNeloMQTTWorkerThread {
 public:
  static constexpr int kMaxAttempts = 10;
  static constexpr int64_t kRetryIntervalMs = 10000;

  TNeloMQTTWriterThread(TNeloMQTTNetworkConnection* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                        TNeloMQTTLogger* ALog);
  ~TNeloMQTTWriterThread() override;
  std::string ClassName() const override { return "TNeloMQTTWriterThread"; }

  // With nothing queued or waiting for an acknowledgement the writer pauses
  // this long between passes; queueing a packet wakes it at once.
  static constexpr int kIdlePauseMs = 100;

  void SetOnPacketSent(TNeloNotifyEvent AEvent);
  // Copy of the info of the last packet the writer took up.
  TNeloMQTTPacketInfo LastSentPacketInfo();
  // Engine-clock time at which the last packet's write began.
  int64_t LastSentTime();

 protected:
  void DoWork() override;
  int PauseAfterPass() override;

 private:
  // What became of a packet taken up in a pass.
  enum TSendResult { srDone, srTransportFailed };
  TSendResult SendPacket(std::unique_ptr<TQueuedOutPacket>& APacket);
  TSendResult SendQoS0Packet(std::unique_ptr<TQueuedOutPacket>& APacket);
  TSendResult SendQoSnPacket(std::unique_ptr<TQueuedOutPacket>& APacket);
  bool WritePacket(const TQueuedOutPacket& APacket);
  void SetLastSentPacketInfo(const TQueuedOutPacket& APacket);
  void NotifyPacketSent();

  std::mutex FLock;
  TNeloMQTTPacketInfo FLastSentPacketInfo;
  int64_t FLastSentTime = 0;
  TNeloNotifyEvent FOnPacketSent;
};

// Requests a ping after KeepAliveInterval + 1 s without a write, and a
// reconnect every ReconnectInterval s while the transport is down.
class TNeloMQTTKeepAliveThread final : public TNeloMQTTWorkerThread {
 public:
  TNeloMQTTKeepAliveThread(TNeloMQTTNetworkConnection* AConnection, TNeloMQTTNeloMQTTClientSession* ASession,
                           TNeloMQTTLogger* ALog);
  ~TNeloMQTTKeepAliveThread() override;
  std::string ClassName() const override { return "TNeloMQTTKeepAliveThread"; }

  bool ShouldTryReconnect() const { return FShouldTryReconnect.load(); }
  void SetShouldTryReconnect(bool AValue) { FShouldTryReconnect.store(AValue); }
  int ReconnectInterval() const { return FReconnectInterval.load(); }
  void SetReconnectInterval(int AValue) { FReconnectInterval.store(AValue); }
  bool ShouldKeepConnectionAlive() const { return FShouldKeepConnectionAlive.load(); }
  void SetShouldKeepConnectionAlive(bool AValue) { FShouldKeepConnectionAlive.store(AValue); }
  int KeepAliveInterval() const { return FKeepAliveInterval.load(); }
  void SetKeepAliveInterval(int AValue) { FKeepAliveInterval.store(AValue); }

  void SetOnRequestPing(TNeloNotifyEvent AEvent);
  void SetOnRequestReconnect(TNeloNotifyEvent AEvent);

  // Its deadlines are whole seconds: a pass every 100 ms is plenty.
  static constexpr int kPassPauseMs = 100;

 protected:
  void DoWork() override;
  int PauseAfterPass() override { return kPassPauseMs; }

 private:
  void RequestPing();
  void RequestReconnect();

  std::atomic<bool> FShouldTryReconnect{false};
  std::atomic<int> FReconnectInterval{30};
  std::atomic<bool> FShouldKeepConnectionAlive{false};
  std::atomic<int> FKeepAliveInterval{120};
  std::mutex FEventLock;
  TNeloNotifyEvent FOnPingRequest;
  TNeloNotifyEvent FOnRequestReconnect;
};
