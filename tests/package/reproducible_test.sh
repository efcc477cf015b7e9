#!/usr/bin/env bash
# Reproducible binaries: the shipped binaries built again from the same sources in a second build
# folder, configured as the first, give the same stripped Registry.dll and ksconfig.exe, byte for
# byte, and the same debug files. Only the two shipped targets are built there (the `stripped`
# target: no tests, no signing). scripts/reproduce.sh does the full check: two clean builds of a
# commit, each from its own checkout.
# Usage: reproducible_test.sh BUILD_DIR SECOND_DIR [cmake -D options of BUILD_DIR...]
set -u -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 second=$2
shift 2
rm -rf "$second"
started=$(date +%s)
cmake -S "$root" -B "$second" -G Ninja "$@" >"$second.log" 2>&1 &&
  cmake --build "$second" --target stripped >>"$second.log" 2>&1 ||
  { cat "$second.log"; echo "FAIL: building the shipped binaries in $second"; exit 1; }
status=0
for name in Registry.dll ksconfig.exe; do
  for file in stripped/$name bin/$name.debug; do
    cmp "$build/package/$file" "$second/package/$file" ||
      { echo "FAIL: $file differs between $build and $second"; status=1; }
  done
done
[ $status -eq 0 ] && echo "reproducible: Registry.dll and ksconfig.exe rebuilt in $second are identical, debug files too ($(( $(date +%s) - started )) s)"
[ $status -eq 0 ] && rm -rf "$second"
exit $status
