#!/bin/sh
# run_autopilot.sh WINE TEST_EXE OUTFOLDER: runs the autopilot with the score
# server's name pointing at 127.0.0.1, in a private mount namespace whose
# /etc/hosts says so (the machine's own file is untouched), and a local
# score server on port 80 that records the request in OUTFOLDER/request.txt.
set -eu
wine=$1 exe=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out" && mkdir -p "$out"
printf '127.0.0.1 localhost\n127.0.0.1 scores.brolfest.example\n' > "$out/hosts"
export BF04_AUTOPILOT_OUT="Z:$out"
# Without private mount namespaces (not root, or a container without the
# capability) the name cannot be given a local address: skip (77).
unshare -m true 2>/dev/null || { echo "run_autopilot: no private mount namespace here; skipped"; exit 77; }
exec unshare -m sh -c '
  mount --bind "$1/hosts" /etc/hosts || { echo "run_autopilot: cannot bind a private hosts file; skipped"; exit 77; }
  python3 "$2/score_server.py" "$1/request.txt" > "$1/server.log" 2>&1 &
  server=$!
  for i in $(seq 50); do grep -q ready "$1/server.log" 2>/dev/null && break; sleep 0.1; done
  grep -q ready "$1/server.log" || { echo "run_autopilot: the score server did not start:"; cat "$1/server.log"; kill $server; exit 1; }
  "$3" "$4"; status=$?
  kill $server
  exit $status' sh "$out" "$here" "$wine" "$exe"
