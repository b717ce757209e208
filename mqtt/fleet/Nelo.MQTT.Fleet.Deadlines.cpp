#include "Nelo.MQTT.Fleet.Deadlines.h"

void TNeloMQTTDeadlines::Add(int64_t AAtMs, std::size_t AKey, uint64_t AGeneration) {
  FHeap.push(TEntry{AAtMs, FOrder++, AKey, AGeneration});
}

void TNeloMQTTDeadlines::TakeDue(int64_t ANowMs,
                                 const std::function<void(std::size_t AKey, uint64_t AGeneration)>& AWake) {
  while (!FHeap.empty() && FHeap.top().At <= ANowMs) {
    const TEntry e = FHeap.top();
    FHeap.pop();
    AWake(e.Key, e.Generation);
  }
}
