// The console's benchmark probe, linked only into the benchmark build of the
// console (tessiva-console-bench), never into the shipped program. With
// TESSIVA_BENCH_BROKER=host:port set, the console connects there by itself, subscribes to
// TESSIVA_BENCH_TOPIC, prints "READY" on standard output, and then measures for 2 x TESSIVA_BENCH_SECONDS:
// the first half in TEXT mode, the second in JSON mode. Every second it prints
// one line (phase, publications shown, longest event-loop stall, memory), at
// the end a summary, and quits. The message inspector is open throughout
// unless TESSIVA_BENCH_INSPECTOR=0.
#pragma once

class Tmain;

// Milliseconds from the process start to now (10 ms resolution).
double MsSinceProcessStart();

// Starts the probe when the environment asks for it; returns whether it did.
bool StartBenchProbe(Tmain& AMain);
