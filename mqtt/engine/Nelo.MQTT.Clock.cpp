#include "Nelo.MQTT.Clock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

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

bool NeloClockReplaced() { return Clock().Replaced.load(); }
