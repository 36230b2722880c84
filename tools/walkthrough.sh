#!/usr/bin/env bash
# A newcomer's first session with Listwise on a virtual display: add, edit, filter, sort, done,
# delete and undo, a bulk delete and its undo, rebuild. Prints each step it checked, then checks
# the task files it left behind with xbtool, and keeps a screenshot of the main window.
#   tools/walkthrough.sh [OUTPUT_DIR]      (default: a new temporary folder)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
listwise_install_deps

out="${1:-$(mktemp -d)}"
mkdir -p "$out"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DLISTWISE_GUI=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target lwwalk xbtool >/dev/null

echo "== The walk (task files in $out)"
status=0
xvfb-run -a -s "-screen 0 1024x768x24" build/release/tools/lwwalk "$out" "$out/walkthrough.png" \
  2> >(grep -v -e propagateSize -e XDG_RUNTIME_DIR >&2) || status=$?

echo "== The files it left, read by xbtool"
# The table is LWISE.dbf in a folder the program made, LWISE.DBF in one an earlier version made.
table="$out/LWISE.dbf"
[ -e "$table" ] || [ ! -e "$out/LWISE.DBF" ] || table="$out/LWISE.DBF"
build/release/tools/xbtool check "$table" || status=1
build/release/tools/xbtool dump "$table" --order DATETIME
echo "Screenshot: $out/walkthrough.png"
exit "$status"
