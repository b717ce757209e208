#!/usr/bin/env bash
# Console flood benchmark: the console, subscribed on a local mosquitto, takes
# a peer's 10,000 publications per second of 200-byte JSON, SECONDS seconds in
# TEXT mode and then SECONDS seconds in JSON mode, in one run. The console
# (the benchmark build of the console, with the message inspector open)
# reports through its probe (TESSIVA_BENCH_*) the longest stall of its event
# loop, publications shown per second and its memory; the script adds the
# time from start to the window shown.
#   bench/console_flood.sh [BUILD-DIR]   (default build/default)
#   RATE=10000 SECONDS_PER_MODE=20 SIZE=200 bench/console_flood.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/default}
rate=${RATE:-10000}
seconds=${SECONDS_PER_MODE:-20}
size=${SIZE:-200}
console="$build/bench/tessiva-console-bench"
peer="$build/bench/console_flood_peer"
for exe in "$console" "$peer"; do
  [ -x "$exe" ] || { echo "missing $exe (build the tessiva-console-bench and console_flood_peer targets)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free loopback port and a broker on it.
port=$(for p in $(seq 20000 20999 | shuf); do (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null || { echo $p; break; }; done)
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 1000000\n' "$port" > "$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" > "$work/mosquitto.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.05; done

# The console on a virtual display, with its own config folder beside a copy.
mkdir -p "$work/console"
cp "$console" "$work/console/tessiva"
Xvfb :"$((port % 1000 + 100))" -screen 0 1280x800x24 > /dev/null 2>&1 &
pids+=($!)
export DISPLAY=:"$((port % 1000 + 100))"
sleep 0.5
TESSIVA_BENCH_BROKER="127.0.0.1:$port" TESSIVA_BENCH_TOPIC=bench/flood TESSIVA_BENCH_SECONDS="$seconds" \
  /usr/bin/time -v "$work/console/tessiva" > "$work/console.out" 2> "$work/console.err" &
cpid=$!
pids+=($cpid)
for _ in $(seq 1 300); do grep -q '^READY' "$work/console.out" 2>/dev/null && break; sleep 0.05; done
grep -q '^READY' "$work/console.out" || { echo "the console did not get ready" >&2; cat "$work/console.err" >&2; exit 1; }

# The peer: 2 x SECONDS of paced lines, one publication each.
"$peer" "$rate" "$((2 * seconds))" "$size" 2> "$work/peer.err" |
  mosquitto_pub -h 127.0.0.1 -p "$port" -t bench/flood -q 0 -l
wait "$cpid" || true

echo "== per second (console) =="
grep '^second' "$work/console.out" || true
cat "$work/peer.err"
peak=$(grep 'Maximum resident set size' "$work/console.err" | awk '{print $NF}')
startup=$(grep '^startup_ms' "$work/console.out" | awk '{print $2}')
echo
echo "| figure | TEXT mode | JSON mode |"
echo "|---|---|---|"
t=$(grep '^summary mode TEXT' "$work/console.out"); j=$(grep '^summary mode JSON' "$work/console.out")
field() { echo "$1" | awk -v k="$2" '{for (i = 1; i < NF; i++) if ($i == k) print $(i + 1)}'; }
echo "| publications offered per second | $rate | $rate |"
echo "| publications shown per second | $(field "$t" shown_per_s) | $(field "$j" shown_per_s) |"
echo "| longest event-loop stall (ms) | $(field "$t" max_stall_ms) | $(field "$j" max_stall_ms) |"
echo "| resident memory after 5 s (KiB) | $(field "$t" rss_kb_at_5s) | $(field "$j" rss_kb_at_5s) |"
echo "| resident memory at the end (KiB) | $(field "$t" rss_kb_at_end) | $(field "$j" rss_kb_at_end) |"
echo "| peak resident memory of the run (KiB) | $peak | |"
echo "| start to window shown (ms) | $startup | |"
