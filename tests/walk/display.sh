#!/usr/bin/env bash
# A private X display with a real window manager for the walk-through tests: Xvfb on the first
# free display number (it picks it itself), and openbox on it.
#   display.sh start STATE_DIR    writes STATE_DIR/display (":N") and the two process ids
#   display.sh stop STATE_DIR     ends both and removes the state
set -euo pipefail
cmd="$1"
state="$2"

stop() {
  for pid in $(cat "$state"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  sleep 0.5
  for pid in $(cat "$state"/*.pid 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
  rm -f "$state"/*.pid "$state/display"
}

case "$cmd" in
  start)
    mkdir -p "$state"
    stop
    # The display number comes back on a pipe once the server listens; the processes are
    # detached from CTest's output so the fixture's step can end while they run.
    fifo="$state/displayfd"
    rm -f "$fifo"
    mkfifo "$fifo"
    setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
      3>"$fifo" >"$state/xvfb.log" 2>&1 < /dev/null &
    echo $! > "$state/xvfb.pid"
    number=$(timeout 30 head -n1 "$fifo" || true)
    rm -f "$fifo"
    if [ -z "$number" ]; then
      echo "Xvfb did not start:"; cat "$state/xvfb.log"; stop; exit 1
    fi
    echo ":$number" > "$state/display"
    DISPLAY=":$number" setsid openbox --sm-disable >"$state/openbox.log" 2>&1 < /dev/null &
    echo $! > "$state/openbox.pid"
    # The window manager is up once it owns the screen's selection.
    for _ in $(seq 100); do
      if DISPLAY=":$number" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        echo "display :$number with openbox"; exit 0
      fi
      sleep 0.1
    done
    echo "openbox did not start:"; cat "$state/openbox.log"; stop; exit 1
    ;;
  stop)
    stop
    ;;
esac
