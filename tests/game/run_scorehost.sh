#!/bin/sh
# run_scorehost.sh [--server] WINE TEST_EXE OUTFOLDER: runs a game test in a
# private mount namespace whose /etc/hosts gives the score server's name a
# loopback address (OUTFOLDER/hosts, which the test may rewrite while it
# runs; the machine's own file is untouched) and whose resolver asks only
# 127.0.0.1, so a name left out of the file fails at once. With --server, a
# score server on 127.0.0.1:80 records the request in OUTFOLDER/request.txt.
# The test finds the folder in BF04_TEST_OUT.
set -eu
server=0
[ "$1" = --server ] && { server=1; shift; }
wine=$1 exe=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out" && mkdir -p "$out"
printf '127.0.0.1 localhost\n127.0.0.1 scores.brolfest.example\n' > "$out/hosts"
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "$out/resolv.conf"
export BF04_TEST_OUT="Z:$out"
# Without private mount namespaces (not root, or a container without the
# capability) the name cannot be given a local address: skip (77).
unshare -m true 2>/dev/null || { echo "run_scorehost: no private mount namespace here; skipped"; exit 77; }
exec unshare -m sh -c '
  mount --bind "$1/hosts" /etc/hosts || { echo "run_scorehost: cannot bind a private hosts file; skipped"; exit 77; }
  [ ! -e /etc/resolv.conf ] || mount --bind "$1/resolv.conf" /etc/resolv.conf || true
  if [ "$5" = 1 ]; then
    python3 "$2/score_server.py" "$1/request.txt" > "$1/server.log" 2>&1 &
    pid=$!
    for i in $(seq 50); do grep -q ready "$1/server.log" 2>/dev/null && break; sleep 0.1; done
    grep -q ready "$1/server.log" || { echo "run_scorehost: the score server did not start:"; cat "$1/server.log"; kill $pid; exit 1; }
  fi
  status=0
  "$3" "$4" || status=$?
  [ "$5" = 1 ] && kill $pid
  exit $status' sh "$out" "$here" "$wine" "$exe" "$server"
