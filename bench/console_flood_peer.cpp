// Writes RATE lines per second for SECONDS seconds to standard output, each a
// JSON object of SIZE bytes (without the line end), paced in 1 ms slices.
// Piped into `mosquitto_pub -l`, every line becomes one publication.
//   console_flood_peer RATE SECONDS SIZE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: console_flood_peer RATE SECONDS SIZE\n");
    return 2;
  }
  const long rate = std::atol(argv[1]);
  const long seconds = std::atol(argv[2]);
  const size_t size = static_cast<size_t>(std::atol(argv[3]));
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  const long total = rate * seconds;
  std::string line;
  for (long n = 0; n < total; ++n) {
    // {"dvsno":"A1B2C3","kind":"PRINT_RESULT","seq":"n","pad":"xxx..."}
    line = "{\"dvsno\":\"A1B2C3\",\"kind\":\"PRINT_RESULT\",\"seq\":\"" + std::to_string(n) + "\",\"pad\":\"";
    const size_t tail = 2;  // "}
    if (line.size() + tail < size) line.append(size - line.size() - tail, 'x');
    line += "\"}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    // Pace: line n is due at n / rate seconds.
    const auto due = start + std::chrono::microseconds(n * 1000000 / rate);
    if ((n % 10) == 9) {
      std::fflush(stdout);
      std::this_thread::sleep_until(due);
    }
  }
  std::fflush(stdout);
  const double took = std::chrono::duration<double>(clock::now() - start).count();
  std::fprintf(stderr, "peer: %ld lines in %.2f s (%.0f/s)\n", total, took,
               static_cast<double>(total) / took);
  return 0;
}
