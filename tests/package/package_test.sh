#!/usr/bin/env bash
# Builds the Debian package from the build tree, has lintian look at it, unpacks it into a
# private root and starts the program from there on a private X display with a fresh HOME: the
# task files must land in HOME's data folder, the settings in its config folder, and nothing
# beside the executable.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/listwise-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack could not build the package"; }
deb=$(ls "$work"/out/listwise_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb"

echo "--- lintian"
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
if grep -q '^E:' "$work/lintian.txt"; then fail "lintian reports errors"; fi

echo "--- contents"
dpkg-deb -c "$deb" | awk '{print $6}'
dpkg-deb -x "$deb" "$work/root"
bin=$(dirname "$(find "$work/root" -path '*/bin/listwise' -type f)")
[ -x "$bin/listwise" ] || fail "no listwise in the package"
before=$(cd "$work/root" && find . | sort)

# A user who has never run the program: no XDG variables, a home of their own.
export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_RUNTIME_DIR QT_QPA_PLATFORM
cat >"$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
# Runs on the private display: starts PROGRAM, answers every message box with Enter (a first
# start asks for an index rebuild), and once the main window has stood a second without a box
# and the task table is there, ends it with its own Exit shortcut, so it saves its settings as a
# user's exit would. Ends with the program's exit status.
#   session.sh PROGRAM LOG
"$1" >"$2" 2>&1 &
pid=$!
quiet=0
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || break
  box=$(xdotool search --onlyvisible --name '^Information$' 2>/dev/null | head -n1 || true)
  if [ -n "$box" ]; then
    xdotool windowfocus --sync "$box" key Return || true
    quiet=0
  else
    win=$(xdotool search --onlyvisible --name '^Listwise$' 2>/dev/null | head -n1 || true)
    if [ -n "$win" ] && [ -e "$HOME/.local/share/listwise/LWISE.dbf" ]; then quiet=$((quiet + 1)); fi
    if [ "$quiet" -ge 5 ]; then xdotool windowfocus --sync "$win" key alt+x || true; quiet=0; fi
  fi
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then echo "the program did not end"; kill "$pid"; exit 99; fi
wait "$pid"
SESSION
# A random first display number: two xvfb-run -a started at once from the same number can race for it.
# Another test's X server may take the display xvfb-run picked between its check and its start;
# the program then finds no display, and the start is tried again on another.
run() {
  local attempt status
  for attempt in 1 2 3; do
    status=0
    xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" bash "$work/session.sh" "$bin/listwise" "$work/listwise.log" || status=$?
    grep -q "could not connect to display" "$work/listwise.log" || return $status
  done
  return $status
}

echo "--- a data folder that cannot be made: a message, exit status 1, nothing written"
touch "$HOME/not-a-folder"
status=0
XDG_DATA_HOME="$HOME/not-a-folder/data" run || status=$?
[ "$status" == 1 ] || { cat "$work/listwise.log"; fail "exit status $status, not 1"; }
written=$(cd "$HOME" && find . -path '*listwise*')
[ -z "$written" ] || fail "files were written: $written"
[ "$(cd "$work/root" && find . | sort)" == "$before" ] || fail "files were written into the install folder"
rm "$HOME/not-a-folder"

echo "--- run from the unpacked package"
run || { cat "$work/listwise.log"; fail "the program did not start and end cleanly"; }

echo "--- files under HOME"
(cd "$HOME" && find . -type f | sort)
for f in .local/share/listwise/LWISE.dbf .local/share/listwise/LWISE.fpt .local/share/listwise/LWISE.cdx \
         .config/listwise/TASQ.INI; do
  [ -f "$HOME/$f" ] || fail "missing $f under HOME"
done
after=$(cd "$work/root" && find . | sort)
[ "$after" == "$before" ] || fail "files were written into the install folder: $(diff <(echo "$before") <(echo "$after"))"
echo "--- nothing new in the install folder; beside the executable: $(ls "$bin" | tr '\n' ' ')"
echo "PASS"
