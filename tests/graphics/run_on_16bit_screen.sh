#!/bin/sh
# Runs a Windows test (emulator, program, arguments) on the 16-bit X server
# scripts/zq starts (ZQ_DISPLAY16). Without that server the program runs on
# the current display, where it skips itself.
if [ -n "${ZQ_DISPLAY16:-}" ]; then
  export DISPLAY="$ZQ_DISPLAY16"
fi
exec "$@"
