#!/usr/bin/env bash
# Ends the calendar server that start-radicale.sh DIR started, and removes DIR (all but the
# server's storage with --keep-storage, so that it can start again on the same tasks).
# Only the process whose number start-radicale.sh wrote is ended, and only if it is still the
# server (a recycled process number is left alone).
#   stop-radicale.sh DIR [--keep-storage]
set -uo pipefail
dir=${1:?usage: stop-radicale.sh DIR [--keep-storage]}
keep=${2:-}
pidfile="$dir/radicale.pid"
if [ -f "$pidfile" ]; then
  pid=$(cat "$pidfile")
  if [ -n "$pid" ] && grep -q radicale "/proc/$pid/cmdline" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
fi
rm -f "$pidfile"
if [ "$keep" != --keep-storage ] && [ -d "$dir" ] && [ ! -L "$dir" ]; then
  rm -rf "$dir"
fi
exit 0
