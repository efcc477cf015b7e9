#!/usr/bin/env bash
# The runtime checks of a test build are in force, and wine.sh --gtest reads a run as it must: each
# planted fault of the canary program fails, each for its own reason; a program whose tests all
# skipped themselves is reported skipped; one that ran no test fails.
# Usage: checks_test.sh [--runtime] [--heap] ARCH CANARY.exe   (WINEPREFIX and WINEDEBUG as for the
#   Wine tests): --runtime for a build with KS_RUNTIME_CHECKS, --heap for one with KS_HEAP_CHECKS.
set -u
runtime=0 heap=0
while :; do
  case "${1:-}" in
    --runtime) runtime=1; shift ;;
    --heap) heap=1; shift ;;
    *) break ;;
  esac
done
arch=$1 canary=$2
wine=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine.sh
"$wine" "$arch" --version >/dev/null
[ $? -eq 77 ] && { "$wine" "$arch" --version; exit 77; }

failures=0
expect() {  # test filter, expected exit status ("failed": any but 0 and 77), text the output must hold
  local filter=$1 want=$2 text=$3 out status
  out=$("$wine" --gtest "$arch" "$canary" --gtest_filter="$filter" 2>&1 </dev/null)
  status=$?
  if { [ "$want" = failed ] && { [ $status -eq 0 ] || [ $status -eq 77 ]; }; } ||
     { [ "$want" != failed ] && [ $status -ne "$want" ]; } || ! grep -qE -- "$text" <<<"$out"; then
    echo "FAIL: $filter: exit $status, expected $want with output matching: $text"
    echo "$out" | tail -n 15 | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok: $filter: exit $status ($(grep -oE -m 1 -- "$text" <<<"$out"))"
  fi
}
expect Canary.Passes 0 '\[  PASSED  \] 1 test\.'
if [ $runtime -eq 1 ]; then
  # Trapping UBSan: an illegal instruction where the overflow happens.
  expect Canary.SignedOverflowTraps failed 'Unhandled illegal instruction'
  # libstdc++'s assertions: the failed precondition, then abort().
  expect Canary.IndexPastTheEndAborts failed "Assertion '.*' failed"
fi
if [ $heap -eq 1 ]; then
  # Wine's heap validation, reported on err:heap and read by wine.sh.
  expect Canary.OneByteOverrunOfANewBlockIsReported failed "Wine's heap checks reported a damaged heap"
  expect Canary.OneByteOverrunOfAHeapAllocBlockIsReported failed "Wine's heap checks reported a damaged heap"
fi
expect Canary.SkipsItself 77 'every test of .* skipped itself'
expect 'NoSuchTest.*' failed 'ran no test'
[ $failures -eq 0 ] && echo "runtime checks and wine.sh --gtest: every canary caught as it must be"
exit $((failures > 0))
