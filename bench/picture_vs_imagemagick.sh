#!/usr/bin/env bash
# Picture conversion: `tessiva-cli envelope --image` against ImageMagick doing
# the same work (sample to 576 dots wide, grey, Floyd-Steinberg, one bit,
# BMP) on a 4032 x 3024 JPEG photo and a 2000 x 2000 PNG with alpha, both
# made here. Prints wall time (best of N runs) and peak resident memory
# (largest of the runs, from /usr/bin/time -v) for each side.
#
#   bench/picture_vs_imagemagick.sh [path/to/tessiva-cli] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$top/build/default/cli/tessiva-cli}
runs=${2:-5}
[ -x "$cli" ] || { echo "picture_vs_imagemagick: no tessiva-cli at $cli (build it first)" >&2; exit 1; }
# The ImageMagick binary itself, not a wrapper in front of it.
im=$(command -v convert-im6.q16 || command -v convert)
[ -x /usr/bin/time ] || { echo "picture_vs_imagemagick: /usr/bin/time is missing (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making the pictures in $work ..." >&2
"$im" -size 4032x3024 -seed 7 plasma:fractal -quality 92 "$work/photo.jpg"
"$im" -size 2000x2000 -seed 11 plasma:fractal \( -size 2000x2000 radial-gradient: \) \
  -alpha off -compose CopyOpacity -composite PNG32:"$work/alpha.png"

# run NAME CMD... : appends "best_ms max_rss_kb" for NAME to $work/NAME.
run() {
  local name=$1; shift
  local best=0 rss=0 i t0 t1 ms kb
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    if [ "$best" -eq 0 ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ "$kb" -gt "$rss" ]; then rss=$kb; fi
  done
  echo "$best $rss" >"$work/$name"
}

for pic in photo.jpg alpha.png; do
  base=${pic%.*}
  run "ours-$base" "$cli" envelope --image "$work/$pic" --width 576 --dump-dir "$work/dump"
  run "im-$base" "$im" "$work/$pic" -sample 576x -colorspace Gray -dither FloydSteinberg -monochrome "$work/${base}_im.bmp"
done

printf '%-44s %12s %12s %8s\n' "figure" "tessiva-cli" "ImageMagick" "ratio"
for pic in photo.jpg alpha.png; do
  base=${pic%.*}
  read -r ot orss <"$work/ours-$base"
  read -r it irss <"$work/im-$base"
  dims=$(identify -format '%wx%h' "$work/$pic")
  printf '%-44s %9s ms %10s ms %7sx\n' "$pic $dims: wall time (best of $runs)" "$ot" "$it" \
    "$(awk -v a="$it" -v b="$ot" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
  printf '%-44s %8s KiB %9s KiB %7sx\n' "$pic $dims: peak memory" "$orss" "$irss" \
    "$(awk -v a="$irss" -v b="$orss" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
done
echo "(ratio = ImageMagick / tessiva-cli; goal: at least 2 for both figures)"
