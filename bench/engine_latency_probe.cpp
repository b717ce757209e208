// Latency probe for bench/engine_vs_mosquitto.sh.
//
//   engine_latency_probe gen COUNT RATE   prints COUNT lines, RATE per second,
//                                         each holding the monotonic time in ns
//   engine_latency_probe recv COUNT       reads such lines as a subscriber
//                                         prints them and reports
//                                         "median_us p99_us received"
//
// Both ends run on the same machine, so one monotonic clock serves both.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Generate(long ACount, long ARate) {
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < ACount; ++i) {
    std::this_thread::sleep_until(start + std::chrono::nanoseconds(1'000'000'000LL * i / ARate));
    std::printf("%lld\n", NowNs());
    std::fflush(stdout);
  }
  return 0;
}

int Receive(long ACount) {
  std::vector<double> latencies;
  char line[256];
  while (static_cast<long>(latencies.size()) < ACount && std::fgets(line, sizeof line, stdin)) {
    const long long now = NowNs();
    // A line may carry the topic first (mosquitto_sub -v); take the last field.
    const char* field = std::strrchr(line, ' ');
    field = field ? field + 1 : line;
    const long long sent = std::atoll(field);
    if (sent <= 0) continue;
    latencies.push_back(static_cast<double>(now - sent) / 1000.0);
  }
  if (latencies.empty()) {
    std::printf("0 0 0\n");
    return 1;
  }
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies[latencies.size() / 2];
  const double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  std::printf("%.0f %.0f %zu\n", median, p99, latencies.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "gen") == 0) return Generate(std::atol(argv[2]), std::atol(argv[3]));
  if (argc == 3 && std::strcmp(argv[1], "recv") == 0) return Receive(std::atol(argv[2]));
  std::fprintf(stderr, "usage: engine_latency_probe gen COUNT RATE | recv COUNT\n");
  return 2;
}
