#!/bin/sh
# make_badpath.sh LIST OUT TMFPACK: OUT/data.tmf is the game's container
# (pack list LIST, absolute paths) with "data\camera1.tcp" holding three
# control points.
set -e
list=$1 out=$2 tmfpack=$3
printf '\003\000\000\000' > "$out/camera1.tcp"
head -c 36 /dev/zero >> "$out/camera1.tcp"
awk -v bad="$out/camera1.tcp" -F '\t' 'BEGIN { OFS = "\t" } $1 == "data\\camera1.tcp" { $2 = bad } { print }' \
  "$list" > "$out/data.list"
"$tmfpack" pack "$out/data.tmf" -l "$out/data.list" >/dev/null
