#!/usr/bin/env bash
# Static analysis: clang-tidy-14 with the checks of .clang-tidy over every source file of src/ and
# tools/ in a clang build's compile database (the clang build, so that clang-tidy parses each file
# exactly as clang compiled it: the mingw target, its headers, the same flags). Passes only with no
# finding at all. Usage: scripts/analyze.sh BUILD_DIR   (a build configured with a clang toolchain file)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: analyze.sh BUILD_DIR}
db=$build/compile_commands.json
[ -f "$db" ] || { echo "analyze.sh: no $db (configure $build first)"; exit 1; }
mapfile -t files < <(sed -nE 's/^ *"file": "(.*)",?$/\1/p' "$db" | grep -E "^$root/(src|tools)/.*\.(cpp|c)$" | sort -u)
[ ${#files[@]} -gt 0 ] || { echo "analyze.sh: no source file of src/ or tools/ in $db"; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# One clang-tidy per file, as many at once as there are cores; --quiet leaves only findings.
status=0
printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P "$(nproc 2>/dev/null || echo 2)" clang-tidy-14 -p "$build" --quiet \
    --header-filter="^$root/(src|tools)/" >"$log" 2>&1 || status=1
# clang-tidy counts what it left out (system headers, NOLINT) on lines of their own.
grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings' "$log" || true
findings=$(grep -cE ': (warning|error): ' "$log" || true)
if [ "$findings" -gt 0 ]; then
  echo "static analysis: $findings findings in ${#files[@]} files (checks and reasons: .clang-tidy)"
  exit 1
elif [ $status -ne 0 ]; then
  echo "static analysis: clang-tidy failed (see above)"
  exit 1
fi
echo "static analysis: no findings in ${#files[@]} files of src/ and tools/"
