// Bounded waiting for the test suites: every wait has an upper bound, and a
// test asserts on the outcome of the condition, never on how long it took.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tessiva::test {

// Generous upper bounds; a healthy run never gets near them.
inline constexpr std::chrono::milliseconds kWaitLong{15000};
inline constexpr std::chrono::milliseconds kWaitShort{3000};

// Polls ACondition until it holds or ATimeout has passed; returns its last value.
inline bool WaitUntil(const std::function<bool()>& ACondition, std::chrono::milliseconds ATimeout = kWaitLong,
                      std::chrono::milliseconds AStep = std::chrono::milliseconds(2)) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    if (ACondition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return ACondition();
    std::this_thread::sleep_for(AStep);
  }
}

}  // namespace tessiva::test
