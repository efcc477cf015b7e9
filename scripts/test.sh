#!/usr/bin/env bash
# Builds everything and runs every test: native pure-code tests (ASan/UBSan) and fuzzers, then
# the Wine tests of the 32-bit and the 64-bit DLL. Usage: scripts/test.sh [native|i686|x86_64]...
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(native i686 x86_64)

status=0
for arch in "${archs[@]}"; do
  configure_and_build "$arch"
  [ "$arch" = native ] || ensure_wineprefix
  echo "== testing $arch"
  (cd "$build/$arch" && ctest --output-on-failure --timeout 600) || status=1
done
exit $status
