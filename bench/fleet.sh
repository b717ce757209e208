#!/usr/bin/env bash
# A fleet of virtual printers and the job runner against one local mosquitto
# started here with its default configuration (free loopback port); its only
# change is its open-file limit (the shell's hard limit, `ulimit -n`), since
# it needs a descriptor per printer. For each fleet size:
#   - how fast N printers come online
#   - resident memory and threads of the fleet process, per printer (against
#     a one-printer process), before and after the jobs
#   - CPU of the idle fleet (IDLE_SECONDS, 10 by default; 65 takes in one
#     round of keep-alive pings at the default 60 s)
#   - `jobs` at R jobs/s for S seconds: sent, done, lost, duplicates,
#     publish-to-done p50 / p99
# Fleets above 25,000 printers connect from several loopback addresses
# (127.0.0.1 ... 127.0.0.K, --bind-address), past the ephemeral ports of one.
# (SOURCES=K connects from K addresses at any size.) A fleet the host's
# limits cannot hold is refused by the tool; the row says so.
# Then one printer at 2 jobs/s (publish-to-done p50 and p99).
# Every run is bounded (timeout) and ends by itself. The load average is
# printed with the figures (the machine may be shared).
#
# usage: bench/fleet.sh [COUNT [RATE [SECONDS [BUILD_DIR]]]]     one fleet (1000 200 60 build/default)
#        bench/fleet.sh --curve [COUNT...]                         a row per fleet (1000 10000 50000 100000);
#                                   RATE is 200 jobs/s up to 1000 printers, 1000 above; SECONDS 60
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
curve=0
counts=()
if [ "${1:-}" = "--curve" ]; then
  curve=1
  shift
  counts=("$@")
  [ ${#counts[@]} -gt 0 ] || counts=(1000 10000 50000 100000)
  fixed_rate=""
  seconds=${SECONDS_PER_RUN:-60}
  build=${BUILD_DIR:-$root/build/default}
else
  counts=("${1:-1000}")
  fixed_rate=${2:-200}
  seconds=${3:-60}
  build=${4:-$root/build/default}
fi
idle_seconds=${IDLE_SECONDS:-10}
cli=$build/cli/tessiva-cli
[ -x "$cli" ] || { echo "missing $cli (build the default preset first)" >&2; exit 1; }
mosquitto_bin=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[ -x "$mosquitto_bin" ] || { echo "missing mosquitto" >&2; exit 1; }

work=$(mktemp -d)
broker_pid=""
fleet_pid=""
stop_fleet() {
  if [ -n "$fleet_pid" ] && kill -0 "$fleet_pid" 2> /dev/null; then
    kill -INT "$fleet_pid" 2> /dev/null || true
    for _ in $(seq 1 300); do kill -0 "$fleet_pid" 2> /dev/null || break; sleep 0.2; done
    kill -KILL "$fleet_pid" 2> /dev/null || true
    wait "$fleet_pid" 2> /dev/null || true
  fi
  fleet_pid=""
}
cleanup() {
  stop_fleet
  [ -n "$broker_pid" ] && kill "$broker_pid" 2> /dev/null && wait "$broker_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# mosquitto needs a descriptor per printer: the shell's limit, not its
# configuration, which stays the default (only the port is chosen).
ulimit -n "$(ulimit -Hn)" 2> /dev/null || true
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 12000))
  "$mosquitto_bin" -p "$port" > "$work/broker.log" 2>&1 &
  broker_pid=$!
  sleep 0.3
  if kill -0 "$broker_pid" 2> /dev/null; then break; fi
  broker_pid=""
done
[ -n "$broker_pid" ] || { echo "mosquitto did not start" >&2; exit 1; }

topics=(--jobs 'bench/{serial}/jobs' --replies 'bench/{serial}/replies')
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
threads() { awk '/^Threads/ {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
load() { cut -d' ' -f1-3 /proc/loadavg; }

# Baseline: one printer, connected.
"$cli" printer -p "$port" --serial BASE "${topics[@]}" > /dev/null 2> "$work/one.err" &
one_pid=$!
for _ in $(seq 1 100); do grep -q 'printers online' "$work/one.err" && break; sleep 0.1; done
sleep 0.5
one_rss=$(rss_kb "$one_pid")
kill -INT "$one_pid"; wait "$one_pid" || true

echo "tessiva-cli printer / jobs against mosquitto $("$mosquitto_bin" -h 2> /dev/null | head -1 | awk '{print $3}') (default configuration, open-file limit $(ulimit -n)); $(nproc) CPUs"
echo "one printer: $one_rss KiB resident; idle CPU over ${idle_seconds} s; jobs for ${seconds} s"
printf '%-9s %-8s %-9s %-9s %-8s %-8s %-7s %-15s %-6s %-5s %-9s %-9s %-9s %s\n' \
  printers sources online_s KiB/prn KiB/prn+ threads idle% "jobs/s sent" lost dup p50_ms p99_ms exit "load (1/5/15 min)"

for count in "${counts[@]}"; do
  rate=${fixed_rate:-$([ "$count" -le 1000 ] && echo 200 || echo 1000)}
  sources=1
  bind=()
  if [ "$count" -gt 25000 ]; then sources=$(((count + 24999) / 25000 + 1)); fi
  # SOURCES=K: connect from K loopback addresses whatever the fleet size.
  if [ -n "${SOURCES:-}" ]; then sources=$SOURCES; fi
  if [ "$sources" -gt 1 ]; then bind=(--bind-address "127.0.0.1-127.0.0.$sources"); fi
  fleet=(--count "$count" --serial-format 'BN%06d')
  "$cli" printer -p "$port" "${fleet[@]}" "${topics[@]}" "${bind[@]}" > /dev/null 2> "$work/fleet.err" &
  fleet_pid=$!
  online_s=""
  for _ in $(seq 1 1200); do
    if grep -q 'printers online after' "$work/fleet.err"; then
      online_s=$(sed -n 's/.*online after \([0-9.]*\) s.*/\1/p' "$work/fleet.err" | head -1)
      break
    fi
    kill -0 "$fleet_pid" 2> /dev/null || break
    sleep 0.1
  done
  if ! kill -0 "$fleet_pid" 2> /dev/null; then
    printf '%-9s %s\n' "$count" "refused: $(tail -1 "$work/fleet.err")"
    stop_fleet
    continue
  fi
  if [ -z "$online_s" ]; then
    printf '%-9s %s\n' "$count" "not online within 120 s: $(tail -1 "$work/fleet.err")"
    stop_fleet
    continue
  fi
  sleep 2
  fleet_rss=$(rss_kb "$fleet_pid")
  fleet_threads=$(threads "$fleet_pid")
  t1=$(cpu_ticks "$fleet_pid"); sleep "$idle_seconds"; t2=$(cpu_ticks "$fleet_pid")
  idle_cpu=$(awk -v a="$t1" -v b="$t2" -v hz="$hz" -v s="$idle_seconds" 'BEGIN {printf "%.2f", (b - a) * 100 / hz / s}')

  total=$((rate * seconds))
  set +e
  # Bounded: a starved run is ended (and reported) rather than waited for.
  timeout -s INT $((seconds + 120)) "$cli" jobs -p "$port" "${fleet[@]}" "${topics[@]}" --total "$total" \
    --rate "$rate" --timeout 20 --json > "$work/jobs.json" 2> "$work/jobs.err"
  jobs_rc=$?
  set -e
  peak_rss=$(rss_kb "$fleet_pid" 2> /dev/null || echo 0)
  python3 - "$work/jobs.json" "$count" "$sources" "$online_s" "$one_rss" "$fleet_rss" "$peak_rss" \
    "$fleet_threads" "$idle_cpu" "$jobs_rc" "$(load)" << 'PY'
import json, sys
path, count, sources, online, one, rss, peak, threads, idle, rc, load = sys.argv[1:]
count = int(count)
try:
    r = json.load(open(path))
except Exception:
    r = {}
lat = r.get("latency_ms") or {}
per = (int(rss) - int(one)) / max(count - 1, 1)
per_after = (int(peak or 0) - int(one)) / max(count - 1, 1)
sent = r.get("sent", "-")
rate = r.get("send_rate", "-")
print(f"{count:<9} {sources:<8} {online:<9} {per:<9.2f} {per_after:<8.2f} {threads:<8} {idle:<7} "
      f"{str(sent) + ' ' + str(rate):<15} {str(r.get('lost', '-')):<6} {str(r.get('duplicates', '-')):<5} "
      f"{str(lat.get('p50', '-')):<9} {str(lat.get('p99', '-')):<9} {rc:<9} {load}")
PY
  stop_fleet
done

# One printer at 2 jobs/s.
"$cli" printer -p "$port" --serial ONE "${topics[@]}" > /dev/null 2> "$work/one.err" &
fleet_pid=$!
for _ in $(seq 1 100); do grep -q 'printers online' "$work/one.err" && break; sleep 0.1; done
set +e
timeout -s INT 60 "$cli" jobs -p "$port" --serial ONE "${topics[@]}" --total 20 --rate 2 --json > "$work/one.json" 2> /dev/null
set -e
stop_fleet
python3 - "$work/one.json" "$(load)" << 'PY'
import json, sys
try:
    r = json.load(open(sys.argv[1]))
except Exception:
    r = {}
lat = r.get("latency_ms") or {}
print(f"one printer, 2 jobs/s: done {r.get('done', '-')} of {r.get('sent', '-')}, "
      f"p50 {lat.get('p50', '-')} ms, p99 {lat.get('p99', '-')} ms (target p50 < 2 ms); load {sys.argv[2]}")
PY
