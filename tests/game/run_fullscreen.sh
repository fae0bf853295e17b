#!/bin/sh
# Runs a Windows test (emulator, program, arguments) on the 16-bit X server
# (ZQ_DISPLAY16) with Wine's desktop process on that server too: a
# full-screen game on one X server beside a desktop process on another dies
# of an X error. The prefix's server is restarted around the test (the
# Windows tests run one at a time) and given back on the usual display.
[ -n "${ZQ_DISPLAY16:-}" ] && [ -n "${WINEPREFIX:-}" ] || exec "$@"
restart() { # display
  wineserver -k >/dev/null 2>&1 || true
  DISPLAY=$1 wineserver -p >/dev/null 2>&1 </dev/null || true
  DISPLAY=$1 wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}
usual=$DISPLAY
restart "$ZQ_DISPLAY16"
DISPLAY=$ZQ_DISPLAY16 "$@"
status=$?
restart "$usual"
exit $status
