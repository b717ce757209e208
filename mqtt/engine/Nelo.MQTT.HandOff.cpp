#include "Nelo.MQTT.HandOff.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

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
  uint64_t Interruptions = 0;  // NeloInterruptCheckSynchronize calls so far
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

void NeloInterruptCheckSynchronize() {
  THandOff& h = HandOff();
  {
    std::lock_guard<std::mutex> lock(h.Lock);
    ++h.Interruptions;
  }
  h.Queued.notify_all();
}

bool NeloCheckSynchronize(int ATimeoutMs) {
  if (!NeloIsMainThread()) return false;
  THandOff& h = HandOff();
  bool ran = false;
  for (;;) {
    std::shared_ptr<THandOffStep> step;
    {
      std::unique_lock<std::mutex> lock(h.Lock);
      if (h.Steps.empty() && !ran && ATimeoutMs > 0) {
        const uint64_t interruptions = h.Interruptions;
        h.Queued.wait_for(lock, std::chrono::milliseconds(ATimeoutMs),
                          [&] { return !h.Steps.empty() || h.Interruptions != interruptions; });
      }
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
