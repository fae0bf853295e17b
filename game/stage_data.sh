#!/bin/sh
# stage_data.sh CONTENT STAGE TMFPACK OCTBUILD: STAGE/data.tmf and
# STAGE/data.list, the container the game runs with. It is the generated
# container itself; while that one still lacks the level's octree
# ("data\scene\scene.oct"), the octree is built here from the level with
# octbuild and packed in with the rest.
set -e
content=$1 stage=$2 tmfpack=$3 octbuild=$4
mkdir -p "$stage"
cd "$content"
awk -F '\t' -v dir="$content" 'BEGIN { OFS = "\t" } /^#/ { next } { if ($2 !~ /^\//) $2 = dir "/" $2; print }' \
  data.list > "$stage/data.list"
if grep -q '^data\\scene\\scene\.oct	' data.list; then
  cp data.tmf "$stage/data.tmf"
  exit 0
fi
echo "stage_data: the container has no data\\scene\\scene.oct; built with octbuild for now"
"$octbuild" files/data/scene/scene.3do "$stage/scene.oct" >/dev/null
printf 'data\\scene\\scene.oct\t%s\n' "$stage/scene.oct" >> "$stage/data.list"
"$tmfpack" pack "$stage/data.tmf" -l "$stage/data.list" >/dev/null
