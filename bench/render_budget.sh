#!/usr/bin/env bash
# Pathological jobs against the renderer's job budget: each is rendered by
# `tessiva-cli render` (ours) and, when given, by a peer build of tessiva-cli
# (for instance one built from an older commit), in one run. Each run is
# bounded: at most LIMIT seconds and 4 GB of address space, so a peer that
# runs away stops by itself. Prints wall time, peak RSS and pages written.
#   bench/render_budget.sh [BUILD-DIR] [PEER-CLI]
#   LIMIT=10 bench/render_budget.sh build/default /tmp/tessiva-cli-old
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/default}
peer=${2:-}
limit=${LIMIT:-10}
ours="$build/cli/tessiva-cli"
[ -x "$ours" ] || { echo "missing $ours (build the tessiva-cli target)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import base64, sys
work = sys.argv[1]

def envelope(entries):
    items = []
    for k, data in enumerate(entries):
        b = base64.b64encode(data).decode()
        items.append('{"task_id":"T%d","usbidx":"0","file_size":"%d","target_file":"%s"}' % (k, len(b), b))
    return '{"dvsno":"xxx","kind":"PRINT_TASK","count":"%d","list":[%s]}' % (len(items), ",".join(items))

# 200 large labels: 500 mm square (4000 x 4000 dots), each printed 50 times.
label = b"SIZE 500 mm,500 mm\r\nGAP 0 mm,0 mm\r\nCLS\r\nBAR 0,0,4000,4000\r\nPRINT 50,1\r\n"
open(work + "/labels.json", "w").write(envelope([label] * 200))
# 100,000 entries of a text line and a cut each.
open(work + "/entries.json", "w").write(envelope([b"A\n\x1dV\x00"] * 100000))
# The same in 40,000 entries: under the printer's 4 MiB, so it is read.
open(work + "/entries40k.json", "w").write(envelope([b"A\n\x1dV\x00"] * 40000))
# 200 KB of GBK text, eight times magnified.
text = b"\x1d\x21\x77" + ("\u4e2d\u6587\u6253\u5370" * 25600).encode("gbk")
open(work + "/gbk.json", "w").write(envelope([text]))
PY

# One run: prints "seconds peak-MB pages status". The peak resident size is
# read from /proc while it runs (VmHWM), so a run killed at the limit is
# measured too.
measure() {
  local cli=$1 input=$2
  shift 2
  local out="$work/out"
  rm -rf "$out"
  mkdir -p "$out"
  local start now pid hwm=0 key value unit status=0 killed=0 cpu=0 stat
  # Microseconds, without forking (bash 5's EPOCHREALTIME).
  start=${EPOCHREALTIME/./}
  ( ulimit -v 4000000; exec "$cli" render "$@" -o "$out/p.png" "$input" > /dev/null 2>&1 ) &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    while read -r key value unit; do
      [ "$key" = "VmHWM:" ] && [ "$value" -gt "$hwm" ] && hwm=$value
    done < "/proc/$pid/status" 2>/dev/null || true
    # CPU time (user + system, clock ticks): the machine may be shared.
    if read -r stat < "/proc/$pid/stat" 2>/dev/null; then
      stat=${stat##*) }
      set -- $stat
      cpu=$(( ${12} + ${13} ))
    fi
    now=${EPOCHREALTIME/./}
    if (( now - start > limit * 1000000 )); then
      kill -9 "$pid" 2>/dev/null || true
      killed=1
      break
    fi
    sleep 0.02
  done
  wait "$pid" 2>/dev/null || status=$?
  now=${EPOCHREALTIME/./}
  local pages
  pages=$(find "$out" -name '*.png' | wc -l)
  rm -rf "$out"
  if [ "$killed" = 1 ]; then
    echo "${limit}+ $((cpu / 100)).$((cpu % 100 / 10)) $((hwm / 1024)) $pages killed"
  else
    printf '%d.%02d %d.%d %d %d %d\n' $(((now - start) / 1000000)) $(((now - start) / 10000 % 100)) \
      $((cpu / 100)) $((cpu % 100 / 10)) $((hwm / 1024)) "$pages" "$status"
  fi
}

printf '%-30s %7s %6s %7s %6s %6s | %7s %6s %7s %6s %6s\n' job "wall s" "cpu s" "RSS MB" pages exit "wall s" "cpu s" "RSS MB" pages exit
for job in "labels.json" "entries.json" "entries40k.json" "gbk.json" "labels.json --force" "entries.json --force"; do
  set -- $job
  input="$work/$1"
  shift
  read -r w c r p s <<< "$(measure "$ours" "$input" "$@")"
  line=$(printf '%-30s %7s %6s %7s %6s %6s' "$job ($(( $(stat -c %s "$input") / 1024 )) KB)" "$w" "$c" "$r" "$p" "$s")
  if [ -n "$peer" ] && [[ "$*" != *--force* ]]; then
    read -r w c r p s <<< "$(measure "$peer" "$input" "$@")"
    line="$line | $(printf '%7s %6s %7s %6s %6s' "$w" "$c" "$r" "$p" "$s")"
  fi
  echo "$line"
done
