#!/usr/bin/env bash
# Draws the console's 16 x 16 icon set (indices 00..23) with ImageMagick.
# Each icon is drawn on a 64 x 64 canvas and reduced, which gives smooth
# edges. Run once after changing a drawing; the PNGs are kept in the tree.
set -euo pipefail
cd "$(dirname "$0")"
blue='#2d7be0'; green='#23a55a'; red='#e0443e'; orange='#ef8f2f'; grey='#7a869a'; dark='#3b4656'

icon() { # index, draw arguments...
  local n=$1; shift
  convert -size 64x64 xc:none -strokewidth 0 "$@" -resize 16x16 "$(printf '%02d' "$n").png"
}
# Pieces shared by several icons.
server=(-fill "$blue" -draw "roundrectangle 6,8 50,26 5,5" -draw "roundrectangle 6,32 50,50 5,5"
        -fill white -draw "circle 15,17 19,17" -draw "circle 15,41 19,41"
        -draw "rectangle 26,15 42,19" -draw "rectangle 26,39 42,43")
plus=(-fill "$green" -draw "circle 48,48 48,34" -fill white -draw "rectangle 46,40 50,56" -draw "rectangle 40,46 56,50")
minus=(-fill "$red" -draw "circle 48,48 48,34" -fill white -draw "rectangle 40,46 56,50")
bubble=(-fill "$orange" -draw "roundrectangle 4,8 52,40 8,8" -draw "polygon 12,38 26,38 12,52"
       )

icon 0  "${server[@]}" "${plus[@]}"
icon 1  "${server[@]}"
icon 2  "${bubble[@]}" "${plus[@]}"
icon 3  "${bubble[@]}" "${minus[@]}"
icon 4  -fill "$grey" -draw "roundrectangle 10,4 54,60 5,5" -fill white -draw "rectangle 18,14 46,18" \
        -draw "rectangle 18,26 46,30" -draw "rectangle 18,38 46,42" -draw "rectangle 18,50 36,54"
icon 5  -fill "$green" -draw "circle 32,32 32,4" -fill white -draw "polygon 24,18 24,46 48,32"
icon 6  -fill "$red" -draw "circle 32,32 32,4" -fill white -draw "rectangle 20,20 44,44"
icon 7  -fill none -stroke "$blue" -strokewidth 8 -draw "arc 10,10 54,54 20,320" -stroke none \
        -fill "$blue" -draw "polygon 40,2 58,20 36,24"
icon 8  -fill "$blue" -draw "polygon 4,30 60,6 40,58" -fill white -draw "polygon 20,31 54,10 31,40"
icon 9  -fill "$red" -draw "roundrectangle 14,16 50,60 4,4" -draw "rectangle 8,8 56,13" -draw "rectangle 24,2 40,8" \
        -fill white -draw "rectangle 22,24 26,52" -draw "rectangle 30,24 34,52" -draw "rectangle 38,24 42,52"
icon 10 "${bubble[@]}" \
        -fill "$green" -draw "circle 48,48 48,34" -fill none -stroke white -strokewidth 5 -draw "polyline 40,48 46,54 56,42"
icon 11 -fill "$grey" -draw "circle 32,32 32,6" -fill white -draw "circle 32,32 32,22"
icon 12 "${server[@]}"
icon 13 -fill "$green" -draw "roundrectangle 6,8 58,56 6,6"
icon 14 -fill "$orange" -draw "roundrectangle 6,8 58,56 6,6"
icon 15 -fill "$orange" -draw "roundrectangle 4,6 60,58 10,10" -fill white \
        -draw "polygon 22,14 28,14 22,50 16,50" -draw "polygon 40,14 46,14 40,50 34,50" \
        -draw "rectangle 12,23 52,28" -draw "rectangle 10,36 50,41"
icon 16 -fill "$orange" -draw "polygon 28,8 58,38 38,58 8,28" -fill "$grey" -draw "polygon 8,28 22,42 14,50 2,38" \
        -fill "$dark" -draw "rectangle 26,58 62,61"
icon 17 -fill "$blue" -draw "roundrectangle 2,8 62,56 5,5" -fill white -draw "rectangle 8,14 56,50" \
        -fill "$green" -draw "polygon 10,48 26,26 38,40 44,32 54,48" -fill "$orange" -draw "circle 44,22 44,17"
icon 18 -fill "$dark" -draw "roundrectangle 6,22 58,46 4,4" -fill "$grey" -draw "rectangle 16,8 48,22" \
        -fill white -draw "rectangle 16,40 48,58"
icon 19 -fill "$green" -draw "polygon 4,10 40,10 60,32 40,54 4,54" -fill white -draw "circle 18,32 23,32"
icon 20 -fill "$blue" -draw "polygon 12,2 52,2 52,62 46,56 40,62 34,56 28,62 22,56 16,62 12,58" \
        -fill white -draw "rectangle 20,12 44,15" -draw "rectangle 20,22 44,25" -draw "rectangle 20,32 36,35"
icon 21 -fill "$blue" -draw "roundrectangle 10,4 54,60 4,4" -fill white -draw "rectangle 18,12 46,20"
icon 22 -fill "$orange" -draw "polygon 6,22 18,22 34,8 34,56 18,42 6,42" \
        -fill none -stroke "$orange" -strokewidth 5 -draw "arc 30,18 48,46 -60,60" -draw "arc 32,8 60,56 -60,60"
icon 23 -fill none -stroke "$red" -strokewidth 6 -draw "circle 16,48 16,38" -draw "circle 48,48 48,38" \
        -stroke "$dark" -strokewidth 6 -draw "line 22,40 50,4" -draw "line 42,40 14,4"
# Beyond the fixed set: the connection state (off, busy, on, refused) and the message log.
icon 24 -fill "$grey" -draw "circle 32,32 32,10"
icon 25 -fill "$orange" -draw "circle 32,32 32,10"
icon 26 -fill "$green" -draw "circle 32,32 32,10"
icon 27 -fill "$red" -draw "circle 32,32 32,10" -fill white -draw "rectangle 20,29 44,35"
icon 28 -fill "$blue" -draw "roundrectangle 8,4 56,60 5,5" -fill white -draw "rectangle 16,14 48,18" \
        -draw "rectangle 16,26 48,30" -draw "rectangle 16,38 48,42" -draw "rectangle 16,50 36,54"
