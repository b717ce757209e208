// The engine's clock.
#pragma once

#include <cstdint>
#include <functional>

// Clock: monotonic milliseconds. Every retry, keep-alive and reconnect
// deadline is measured with it, so tests can drive them with a clock of their
// own. An empty function restores the system's monotonic clock.
int64_t NeloNowMs();
void NeloSetClock(std::function<int64_t()> ANow);

// Whether a clock of the application's (a test's) replaced the system's: its
// deadlines cannot be waited for in real time, so workers then look every
// few milliseconds.
bool NeloClockReplaced();
