// tessiva-console-bench: the console with its benchmark probe
// (bench/console_flood.sh). The shipped console (console/main.cpp) has none.
#include <QTimer>
#include <cstdio>

#include "ConsoleApp.h"
#include "console_bench_probe.h"
#include "f_main.h"

int main(int argc, char** argv) {
  return RunConsole(argc, argv, [](Tmain& AMain) {
    if (StartBenchProbe(AMain)) {
      // The first pass of the event loop after show: the window is on screen.
      QTimer::singleShot(0, [] {
        std::printf("startup_ms %.0f\n", MsSinceProcessStart());
        std::fflush(stdout);
      });
    }
  });
}
