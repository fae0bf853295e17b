#!/bin/sh
# Runs zqdemo as a user would and takes a screenshot of the screen while it
# draws: the fan of triangles it reports must be on screen, not just the
# clear colour. Arguments: wine-exec, zqdemo.exe, ImageMagick's import and
# convert, a scratch folder.
set -eu
wine_exec=$1 demo=$2 import=$3 convert=$4 work=$5
mkdir -p "$work"
out="$work/zqdemo.out" shot="$work/zqdemo.png"
rm -f "$out" "$shot"
cd "$(dirname "$demo")"
"$wine_exec" "$demo" >"$out" 2>&1 &
pid=$!
# zqdemo says when its first frame is up; it draws for two seconds more.
for _ in $(seq 600); do
  grep -q '^drawing' "$out" 2>/dev/null && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.05
done
grep -q '^drawing' "$out" || { cat "$out"; echo "zqdemo never started drawing"; exit 1; }
sleep 0.5
"$import" -window root "$shot"
wait $pid || { cat "$out"; echo "zqdemo failed"; exit 1; }
cat "$out"
grep -q '256 triangles per frame' "$out" || { echo "zqdemo did not report 256 triangles a frame"; exit 1; }
# The middle of the screen lies inside the window's client area: the share of
# its pixels that are neither the clear colour (0x101830) nor black.
share=$("$convert" "$shot" -gravity center -crop 400x300+0+0 +repage -fuzz 4% \
  -fill black -opaque '#101830' -fill white +opaque black -colorspace gray -format '%[fx:mean]' info:)
echo "share of the middle of the screen drawn: $share"
awk -v s="$share" 'BEGIN { exit !(s > 0.05) }' || { echo "the triangles are not on screen"; exit 1; }
