#!/usr/bin/env bash
# Counts the naming warnings (readability-identifier-naming) of the program's own sources, per
# folder, each folder checked against its own .clang-tidy. Needs a configured build folder for
# its compile_commands.json (default build/test) and clang-tidy.
#
#   scripts/naming_warnings.sh [build-folder]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json" >&2; exit 2; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
find src tools -name '*.cpp' | sort |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null >"$log"
# A header's warning is printed for every source that includes it: count each place once.
grep -E '^[^ ]+:[0-9]+:[0-9]+: warning: .*\[readability-identifier-naming\]' "$log" | sort -u |
  tee /dev/stderr | sed -E 's#^(src/[^/]+|tools)/.*#\1#; s#^/.*/(src/[^/]+|tools)/.*#\1#' |
  sort | uniq -c
echo "$(grep -E 'warning: .*\[readability-identifier-naming\]' "$log" | sort -u | wc -l) naming warnings"
