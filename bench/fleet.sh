#!/usr/bin/env bash
# A fleet of virtual printers and the job runner against one local mosquitto
# started here with its default configuration (free loopback port):
#   - how fast N printers come online (printers connected per second)
#   - resident memory and threads of the fleet process, per printer
#   - CPU of the idle fleet over 5 s
#   - `jobs` at R jobs/s for S seconds: jobs per second sent and done, lost,
#     duplicates, publish-to-done p50 / p99
# Prints one table: figure, measured, target. Bounded: S + about 60 seconds.
#
# usage: bench/fleet.sh [COUNT [RATE [SECONDS [BUILD_DIR]]]]   (1000 200 60 build/default)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
rate=${2:-200}
seconds=${3:-60}
build=${4:-$root/build/default}
cli=$build/cli/tessiva-cli
[ -x "$cli" ] || { echo "missing $cli (build the default preset first)" >&2; exit 1; }
mosquitto_bin=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[ -x "$mosquitto_bin" ] || { echo "missing mosquitto" >&2; exit 1; }

work=$(mktemp -d)
broker_pid=""
fleet_pid=""
cleanup() {
  if [ -n "$fleet_pid" ] && kill -0 "$fleet_pid" 2> /dev/null; then
    kill -INT "$fleet_pid" 2> /dev/null || true
    for _ in $(seq 1 100); do kill -0 "$fleet_pid" 2> /dev/null || break; sleep 0.2; done
    kill -KILL "$fleet_pid" 2> /dev/null || true
  fi
  [ -n "$broker_pid" ] && kill "$broker_pid" 2> /dev/null && wait "$broker_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# mosquitto needs a descriptor per printer: the shell's limit, not its
# configuration, which stays the default (only the port is chosen).
ulimit -n "$(ulimit -Hn)" 2> /dev/null || true
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  "$mosquitto_bin" -p "$port" > "$work/broker.log" 2>&1 &
  broker_pid=$!
  sleep 0.3
  if kill -0 "$broker_pid" 2> /dev/null; then break; fi
  broker_pid=""
done
[ -n "$broker_pid" ] || { echo "mosquitto did not start" >&2; exit 1; }

topics=(--jobs 'bench/{serial}/jobs' --replies 'bench/{serial}/replies')
fleet=(--count "$count" --serial-format 'BN%05d')

rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
threads() { awk '/^Threads/ {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Baseline: one printer, connected.
"$cli" printer -p "$port" --serial BASE "${topics[@]}" > /dev/null 2> "$work/one.err" &
one_pid=$!
for _ in $(seq 1 100); do grep -q 'printers online' "$work/one.err" && break; sleep 0.1; done
sleep 0.5
one_rss=$(rss_kb "$one_pid")
kill -INT "$one_pid"; wait "$one_pid" || true

"$cli" printer -p "$port" "${fleet[@]}" "${topics[@]}" > "$work/fleet.out" 2> "$work/fleet.err" &
fleet_pid=$!
online_s=""
for _ in $(seq 1 600); do
  if grep -q 'printers online after' "$work/fleet.err"; then
    online_s=$(sed -n 's/.*online after \([0-9.]*\) s.*/\1/p' "$work/fleet.err" | head -1)
    break
  fi
  kill -0 "$fleet_pid" 2> /dev/null || break
  sleep 0.1
done
sleep 2
if ! kill -0 "$fleet_pid" 2> /dev/null; then
  echo "the fleet process ended before it was measured:" >&2
  tail -3 "$work/fleet.err" >&2
  exit 1
fi
fleet_rss=$(rss_kb "$fleet_pid")
fleet_threads=$(threads "$fleet_pid")
t1=$(cpu_ticks "$fleet_pid"); sleep 5; t2=$(cpu_ticks "$fleet_pid")
hz=$(getconf CLK_TCK)
idle_cpu=$(awk -v a="$t1" -v b="$t2" -v hz="$hz" 'BEGIN {printf "%.0f", (b - a) * 100 / hz / 5}')

total=$((rate * seconds))
set +e
# Bounded: a starved run is ended (and reported) rather than waited for.
timeout -s INT $((seconds + 120)) "$cli" jobs -p "$port" "${fleet[@]}" "${topics[@]}" --total "$total" \
  --rate "$rate" --timeout 20 --json > "$work/jobs.json" 2> "$work/jobs.err"
jobs_rc=$?
set -e
peak_rss=$(rss_kb "$fleet_pid" 2> /dev/null || echo 0)
[ -n "$peak_rss" ] || peak_rss=0

python3 - "$work/jobs.json" "$count" "$rate" "$seconds" "${online_s:-}" "$one_rss" "$fleet_rss" \
  "$fleet_threads" "$idle_cpu" "$peak_rss" "$jobs_rc" << 'PY'
import json, sys
path, count, rate, seconds, online, one_rss, rss, threads, idle, peak, rc = sys.argv[1:]
count, rate, seconds = int(count), int(rate), int(seconds)
try:
    r = json.load(open(path))
except Exception:
    r = {}
lat = r.get("latency_ms") or {}
per = (int(rss) - int(one_rss)) / max(count - 1, 1)
rows = [
    ("printers", str(count), ""),
    ("all online after (s)", online or "not within 60 s", "<= 10"),
    ("printers connected per second", f"{count / float(online):.0f}" if online else "-", ">= 100"),
    ("fleet RSS (MiB)", f"{int(rss) / 1024:.1f}", ""),
    ("RSS per printer (KiB)", f"{per:.0f}", "<= 1024"),
    ("RSS per printer after the jobs (KiB)", f"{(int(peak) - int(one_rss)) / max(count - 1, 1):.0f}", "<= 1024"),
    ("threads", threads, ""),
    ("idle fleet CPU (% of one core)", idle, ""),
    ("jobs sent", str(r.get("sent", "-")), str(rate * seconds)),
    ("jobs per second sent", str(r.get("send_rate", "-")), str(rate)),
    ("jobs done", str(r.get("done", "-")), str(rate * seconds)),
    ("jobs done per second", f"{r['done'] / r['send_seconds']:.1f}" if r.get("send_seconds") else "-", str(rate)),
    ("lost", str(r.get("lost", "-")), "0"),
    ("duplicates", str(r.get("duplicates", "-")), "0"),
    ("publish to done p50 (ms)", str(lat.get("p50", "-")), ""),
    ("publish to done p99 (ms)", str(lat.get("p99", "-")), ""),
    ("jobs exit status", rc, "0"),
]
w = max(len(a) for a, _, _ in rows)
print(f"{'figure':<{w}}  {'measured':>16}  {'target':>8}")
for a, b, c in rows:
    print(f"{a:<{w}}  {b:>16}  {c:>8}")
PY
