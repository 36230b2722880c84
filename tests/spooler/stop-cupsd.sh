#!/usr/bin/env bash
# Ends the private print spooler that start-cupsd.sh DIR started, and only that one, and removes
# its folder.
#   stop-cupsd.sh DIR
set -uo pipefail
dir=${1:?usage: stop-cupsd.sh DIR}
pidfile="$dir/cupsd.pid"
# Only a folder that start-cupsd.sh made is removed: it holds the spooler's configuration.
[ -f "$dir/conf/cups-files.conf" ] && [ ! -L "$dir" ] || exit 0
if [ ! -f "$pidfile" ]; then
  rm -rf "$dir"
  exit 0
fi
pid=$(cat "$pidfile")
# The number in the file is ours only while it still names a cupsd reading our configuration.
if [ -n "$pid" ] && grep -qs "$dir/conf/cupsd.conf" "/proc/$pid/cmdline"; then
  kill "$pid" 2>/dev/null
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
fi
rm -rf "$dir"
exit 0
