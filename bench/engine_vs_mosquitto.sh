#!/usr/bin/env bash
# tessiva-cli pub/sub against mosquitto_pub/mosquitto_sub on one local
# mosquitto started here (free loopback port), in one run:
#   - throughput: 100,000 QoS 0, 20,000 QoS 1, 20,000 QoS 2 messages of 100 bytes,
#     counted at the same client's subscriber (delivered / sent)
#   - publish-to-receive latency of QoS 0 messages sent at 100/s (median, p99)
#   - CPU of an idle connected subscriber over 30 s
#   - peak memory of a 100,000 and a 1,000,000 message QoS 0 run (flat?)
# Prints one table: figure, ours, mosquitto's, ratio. Bounded: every step has
# a time limit, so the script always finishes (a few minutes).
#
# The broker runs with its default configuration for both clients: the only
# lines in its file are the listener (a free loopback port) and
# allow_anonymous, which mosquitto 2 needs for any listener of its own.
#
# usage: bench/engine_vs_mosquitto.sh [BUILD_DIR]   (default build/default)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
cli=$build/cli/tessiva-cli
probe=$build/bench/engine_latency_probe
for f in "$cli" "$probe"; do
  [ -x "$f" ] || { echo "missing $f (build the default preset first)" >&2; exit 1; }
done
for p in mosquitto mosquitto_pub mosquitto_sub; do
  command -v "$p" > /dev/null || [ -x "/usr/sbin/$p" ] || { echo "missing $p" >&2; exit 1; }
done
mosquitto_bin=$(command -v mosquitto || echo /usr/sbin/mosquitto)

work=$(mktemp -d)
broker_pid=""
cleanup() {
  [ -n "$broker_pid" ] && kill "$broker_pid" 2> /dev/null && wait "$broker_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A free port: let mosquitto try until one binds.
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" > "$work/mosquitto.conf"
  "$mosquitto_bin" -c "$work/mosquitto.conf" > "$work/broker.log" 2>&1 &
  broker_pid=$!
  for i in $(seq 1 50); do
    if mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -n 2> /dev/null; then break 2; fi
    kill -0 "$broker_pid" 2> /dev/null || break
    sleep 0.1
  done
  kill "$broker_pid" 2> /dev/null || true
  wait "$broker_pid" 2> /dev/null || true
  broker_pid=""
done
[ -n "$broker_pid" ] || { echo "could not start mosquitto" >&2; exit 1; }

conn=(-h 127.0.0.1 -p "$port")
msg=$(head -c 100 /dev/zero | tr '\0' 'm')

now_ns() { date +%s%N; }
# Runs a command (at most 300 s); prints its wall time in seconds.
timed() {
  local t0 t1
  t0=$(now_ns)
  timeout 300 "$@" > /dev/null || echo "warning: '$1 $2' failed (exit $?); its figure is not valid" >&2
  t1=$(now_ns)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}
# Messages per second from a count and seconds.
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

rows=()
row() { rows+=("$(printf '%-40s %14s %14s %8s' "$1" "$2" "$3" "$4")"); }

echo "broker on 127.0.0.1:$port; measuring (about three minutes)..." >&2

# Publishes COUNT messages with the given client while the same client's
# subscriber at the same QoS counts what arrives (one line per message);
# prints "seconds delivered". Each client is measured end to end: a default
# broker drops what it holds past 1000 unacknowledged messages for a
# subscriber that consumes slower than the publisher sends, so a counting
# subscriber slower than the publisher measures that subscriber.
throughput() {  # $1: ours|theirs, $2: qos, $3: count
  local out="$work/count.$1.$2" sub seconds
  if [ "$1" = ours ]; then
    timeout 125 "$cli" sub "${conn[@]}" -t "bench/q$2/$1" -q "$2" -C "$3" > "$out" 2> /dev/null &
  else
    mosquitto_sub "${conn[@]}" -t "bench/q$2/$1" -q "$2" -C "$3" -W 120 > "$out" 2> /dev/null &
  fi
  sub=$!
  sleep 0.5  # subscribed by then
  if [ "$1" = ours ]; then
    seconds=$(timed "$cli" pub "${conn[@]}" -t "bench/q$2/$1" -q "$2" -m "$msg" --repeat "$3")
  else
    seconds=$(timed mosquitto_pub "${conn[@]}" -t "bench/q$2/$1" -q "$2" -m "$msg" --repeat "$3")
  fi
  # What is still on its way arrives within a few seconds, or is lost.
  for i in $(seq 1 100); do
    kill -0 "$sub" 2> /dev/null || break
    sleep 0.1
  done
  kill "$sub" 2> /dev/null || true
  wait "$sub" 2> /dev/null || true
  echo "$seconds $(wc -l < "$out")"
}

for run in "0 100000" "1 20000" "2 20000"; do
  set -- $run
  qos=$1 count=$2
  read -r s_ours got_ours < <(throughput ours "$qos" "$count")
  read -r s_theirs got_theirs < <(throughput theirs "$qos" "$count")
  r_ours=$(rate "$got_ours" "$s_ours")
  r_theirs=$(rate "$got_theirs" "$s_theirs")
  row "QoS $qos throughput, $count x 100 B (msg/s)" "$r_ours" "$r_theirs" "$(ratio "$r_ours" "$r_theirs")"
  row "  delivered / sent" "$got_ours/$count" "$got_theirs/$count" ""
done

# Latency: paced timestamps through publisher -> broker -> subscriber.
latency() {  # $1: ours|theirs; prints "median p99 received"
  local n=1000 out="$work/lat.$1" reader
  # Bounded: a lost message must not leave the subscriber waiting forever.
  if [ "$1" = ours ]; then
    timeout 60 "$cli" sub "${conn[@]}" -t bench/lat -C "$n" | "$probe" recv "$n" > "$out" &
  else
    timeout 60 stdbuf -oL mosquitto_sub "${conn[@]}" -t bench/lat -C "$n" | "$probe" recv "$n" > "$out" &
  fi
  reader=$!
  sleep 1  # subscribed by then
  if [ "$1" = ours ]; then
    "$probe" gen "$n" 100 | timeout 60 "$cli" pub "${conn[@]}" -t bench/lat -l || true
  else
    "$probe" gen "$n" 100 | timeout 60 mosquitto_pub "${conn[@]}" -t bench/lat -l || true
  fi
  wait "$reader" || true
  if [ -s "$out" ]; then cat "$out"; else echo "- - 0"; fi
}
read -r med_ours p99_ours got_ours < <(latency ours)
read -r med_theirs p99_theirs got_theirs < <(latency theirs)
row "QoS 0 latency at 100/s, median (us)" "$med_ours" "$med_theirs" "$(ratio "$med_ours" "$med_theirs")"
row "QoS 0 latency at 100/s, p99 (us)" "$p99_ours" "$p99_theirs" "$(ratio "$p99_ours" "$p99_theirs")"
[ "$got_ours" = 1000 ] && [ "$got_theirs" = 1000 ] || echo "latency: received $got_ours / $got_theirs of 1000" >&2

# Idle CPU of a connected subscriber over 30 s, both side by side. A process
# that has exited meanwhile has no /proc entry: its figure is "exited"
# instead of the script dying.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2> /dev/null || echo ""; }
idle_cpu() {  # $1 $2: ticks before and after
  if [ -z "$1" ] || [ -z "$2" ]; then
    echo exited
  else
    awk -v d=$(($2 - $1)) -v hz="$hz" 'BEGIN { printf "%.2f", d / hz / 30 * 100 }'
  fi
}
hz=$(getconf CLK_TCK)
"$cli" sub "${conn[@]}" -t bench/idle > /dev/null &
idle_ours=$!
mosquitto_sub "${conn[@]}" -t bench/idle > /dev/null &
idle_theirs=$!
sleep 2
t0_ours=$(ticks "$idle_ours")
t0_theirs=$(ticks "$idle_theirs")
sleep 30
t1_ours=$(ticks "$idle_ours")
t1_theirs=$(ticks "$idle_theirs")
kill "$idle_ours" "$idle_theirs" 2> /dev/null || true
wait "$idle_ours" "$idle_theirs" 2> /dev/null || true
cpu_ours=$(idle_cpu "$t0_ours" "$t1_ours")
cpu_theirs=$(idle_cpu "$t0_theirs" "$t1_theirs")
row "idle subscriber CPU over 30 s (% of a core)" "$cpu_ours" "$cpu_theirs" "$(ratio "$cpu_ours" "$cpu_theirs")"

# Peak memory: flat when a 10x longer run needs no more.
peak_kb() { /usr/bin/time -f %M timeout 300 "$@" 2>&1 > /dev/null | tail -n 1; }
m100k=$(peak_kb "$cli" pub "${conn[@]}" -t bench/mem -m "$msg" --repeat 100000)
m1m=$(peak_kb "$cli" pub "${conn[@]}" -t bench/mem -m "$msg" --repeat 1000000)
t100k=$(peak_kb mosquitto_pub "${conn[@]}" -t bench/mem -m "$msg" --repeat 100000)
t1m=$(peak_kb mosquitto_pub "${conn[@]}" -t bench/mem -m "$msg" --repeat 1000000)
row "peak RSS, 100,000 QoS 0 messages (KiB)" "$m100k" "$t100k" "$(ratio "$m100k" "$t100k")"
row "peak RSS, 1,000,000 QoS 0 messages (KiB)" "$m1m" "$t1m" "$(ratio "$m1m" "$t1m")"

printf '%-40s %14s %14s %8s\n' "figure" "tessiva-cli" "mosquitto" "ratio"
printf '%s\n' "${rows[@]}"
echo
echo "Load average during the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
