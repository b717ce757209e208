// The deadlines of one event loop: one entry per session that wants to be
// woken (keep-alive, CONNACK and resend time-outs, reconnects, the
// application's own steps), held in a heap and served by the loop's single
// timer. An entry that a session no longer wants is not searched for: a
// session keeps only its earliest entry and, woken early, simply asks its
// core again. Not thread-safe: one loop thread owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

class TNeloMQTTDeadlines {
 public:
  static constexpr int64_t kNever = INT64_MAX;

  // Wakes AKey at AAtMs (or soon after); AGeneration is handed back so the
  // caller can tell a stale wake-up from a live one.
  void Add(int64_t AAtMs, std::size_t AKey, uint64_t AGeneration);
  // The earliest deadline, kNever when there is none.
  int64_t Next() const { return FHeap.empty() ? kNever : FHeap.top().At; }
  // Takes every entry due at ANowMs, earliest first, handing each to AWake.
  // Entries added by AWake for ANowMs or earlier are taken in the same call.
  void TakeDue(int64_t ANowMs, const std::function<void(std::size_t AKey, uint64_t AGeneration)>& AWake);
  std::size_t Size() const { return FHeap.size(); }

 private:
  struct TEntry {
    int64_t At;
    uint64_t Order;  // equal times are served in the order they were added
    std::size_t Key;
    uint64_t Generation;
    bool operator>(const TEntry& AOther) const {
      return At != AOther.At ? At > AOther.At : Order > AOther.Order;
    }
  };
  std::priority_queue<TEntry, std::vector<TEntry>, std::greater<TEntry>> FHeap;
  uint64_t FOrder = 0;
};
