#!/bin/sh
# make_badpath.sh CONTENT OUT TMFPACK: OUT/data.tmf is CONTENT's container
# with "data\camera1.tcp" holding three control points.
set -e
content=$1 out=$2 tmfpack=$3
printf '\003\000\000\000' > "$out/camera1.tcp"
head -c 36 /dev/zero >> "$out/camera1.tcp"
cd "$content"
awk -v bad="$out/camera1.tcp" -F '\t' 'BEGIN { OFS = "\t" } $1 == "data\\camera1.tcp" { $2 = bad } { print }' \
  data.list > "$out/data.list"
"$tmfpack" pack "$out/data.tmf" -l "$out/data.list" >/dev/null
