#!/bin/sh
# A screenshot of a "What's this?" popup over the main window, taken without a screen: the
# program runs on a virtual display in a scratch folder with a few tasks, the help-mode button
# is clicked and then the task grid, and the whole display is saved.
#
#   tools/popup_screenshot.sh [BUILD_DIR] [OUT.png]      (defaults: build/release, popup.png)
#
# Needs xvfb-run, ImageMagick's import, xwininfo (x11-utils) and python3 with the X11 test
# extension library (libxtst6) for the clicks.
set -eu

build=${1:-build/release}
out=$(realpath -m "${2:-popup.png}")
here=$(dirname "$(realpath "$0")")
program="$build/src/app/listwise"
xbtool="$build/tools/xbtool"
[ -x "$program" ] || { echo "no program at $program (build it first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/listwise"
# No reminder to rebuild the indexes: it would stand in front of the window.
printf '[Reindex]\r\nNeeded=0\r\n' > "$work/TASQ.INI"

xvfb-run -a -s "-screen 0 800x600x24" sh -c '
  work=$1; out=$2; here=$3; xbtool=$4
  # A first start creates the task files; a few tasks go in while the program is not running.
  "$work/listwise" & pid=$!
  sleep 4; kill $pid; wait $pid 2>/dev/null || true
  if [ -x "$xbtool" ]; then
    table="$work/LWISE.dbf"  # the name the program gives a new task list
    "$xbtool" append "$table" DATE=20260105 TIME=09:30 PRIORITY=A DONE=F \
      DESCRIPT="Send the quarterly report" KEYS=Work NOTE="Figures from Anna first" >/dev/null
    "$xbtool" append "$table" DATE=20260107 PRIORITY=B DONE=F \
      DESCRIPT="Call the dentist" KEYS=Home >/dev/null
    "$xbtool" append "$table" DATE=20260112 TIME=18:00 PRIORITY=C DONE=F \
      DESCRIPT="Book the train to Lyon" KEYS="Home Travel" >/dev/null
  fi
  "$work/listwise" & pid=$!
  sleep 4
  python3 "$here/popup_click.py"
  sleep 1
  import -window root "$out"
  kill $pid; wait $pid 2>/dev/null || true
' sh "$work" "$out" "$here" "$xbtool"
echo "$out"
