#!/usr/bin/env bash
# Picture conversion: `tessiva-cli envelope --image` against ImageMagick doing
# the same work (sample to 576 dots wide, grey, Floyd-Steinberg, one bit,
# BMP) on a 4032 x 3024 JPEG photo and a 2000 x 2000 PNG with alpha, both
# made here. Prints wall time (best of N runs) and peak resident memory
# (largest of the runs, from /usr/bin/time -v) for each side.
#
# Then area scaling (`--scale area`) of the photo against `vips thumbnail`
# (decode and resize only) and ImageMagick's `-resize` with Floyd-Steinberg,
# and a 4000 x 3000 picture of one-pixel black stripes every four pixels:
# solid black columns and black share after nearest and area scaling.
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

# ---- area scaling against vips and ImageMagick's -resize
vips=$(command -v vips || true)
run "ours-area" "$cli" envelope --image "$work/photo.jpg" --width 576 --scale area --dump-dir "$work/dump"
run "im-resize" "$im" "$work/photo.jpg" -resize 576x -colorspace Gray -dither FloydSteinberg -monochrome \
  "$work/photo_resize_im.bmp"
if [ -n "$vips" ]; then run "vips" "$vips" thumbnail "$work/photo.jpg" "$work/photo_vips.png" 576; fi
read -r at arss <"$work/ours-area"
read -r rt rrss <"$work/im-resize"
echo
dims=$(identify -format '%wx%h' "$work/photo.jpg")
printf '%-44s %12s %12s %12s\n' "photo.jpg $dims, --scale area" "tessiva-cli" "vips thumb" "IM -resize"
if [ -n "$vips" ]; then read -r vt vrss <"$work/vips"; else vt=-; vrss=-; fi
printf '%-44s %9s ms %9s ms %9s ms\n' "wall time (best of $runs)" "$at" "$vt" "$rt"
printf '%-44s %8s KiB %8s KiB %8s KiB\n' "peak memory" "$arss" "$vrss" "$rrss"
goal() { if [ "$1" = 1 ]; then echo "met"; else echo "NOT met"; fi; }
if [ -n "$vips" ]; then
  echo "goal: wall time <= vips thumbnail: $(goal "$(awk -v a="$at" -v b="$vt" 'BEGIN { print (a <= b) }')")"
fi
echo "goal: at least 3x faster than IM -resize ($(awk -v a="$rt" -v b="$at" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')x):" \
  "$(goal "$(awk -v a="$rt" -v b="$at" 'BEGIN { print (a >= 3 * b) }')")"
echo "goal: peak memory <= 16 MiB ($arss KiB): $(goal "$(awk -v a="$arss" 'BEGIN { print (a <= 16384) }')")"

# ---- moire: one-pixel black stripes every four pixels
"$im" -size 4x1 xc:white -fill black -draw "point 0,0" -write mpr:tile +delete \
  -size 4000x3000 tile:mpr:tile -type Grayscale "$work/stripes.png"
# solid_columns BMP: columns black from top to bottom (their mean is 0).
solid_columns() {
  "$im" "$1" -colorspace Gray -scale "$(identify -format '%w' "$1")x1!" -depth 16 txt:- |
    awk '/gray\(0\)/ { n++ } END { print n + 0 }'
}
black_share() { "$im" "$1" -colorspace Gray -format '%[fx:1-mean]' info:; }
src_share=$(black_share "$work/stripes.png")
echo
printf '%-44s %14s %12s\n' "stripes.png 4000x3000 to 576 dots" "solid columns" "black share"
printf '%-44s %14s %12.4f\n' "source" "-" "$src_share"
area_solid=-1 area_share=0
for scale in nearest area; do
  "$cli" envelope --image "$work/stripes.png" --width 576 --scale "$scale" --dump-dir "$work/dump" >/dev/null
  solid=$(solid_columns "$work/stripes_dithered.bmp")
  share=$(black_share "$work/stripes_dithered.bmp")
  printf '%-44s %10s/576 %12.4f\n' "tessiva-cli --scale $scale" "$solid" "$share"
  if [ "$scale" = area ]; then area_solid=$solid area_share=$share; fi
done
echo "goal: --scale area has no solid column and a black share within 2 % of the source's:" \
  "$(goal "$(awk -v n="$area_solid" -v a="$area_share" -v s="$src_share" \
    'BEGIN { d = a - s; if (d < 0) d = -d; print (n == 0 && d <= 0.02) }')")"
