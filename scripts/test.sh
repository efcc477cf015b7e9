#!/usr/bin/env bash
# Builds everything and runs every test: native pure-code tests (ASan/UBSan) and fuzzers, then
# the Wine tests of the 32-bit and the 64-bit DLL built by GCC with the runtime checks, then the
# same code built by clang: the 64-bit Wine tests and the static analysis, and the 32-bit DLL's
# exports. Usage: scripts/test.sh [native|i686|x86_64|clang-x86_64|clang-i686]...
# Where the kernel cannot run 32-bit programs (or KS_NO_32BIT=1), the i686 Wine tests run as one
# process under qemu's user-mode emulator when root can register it (KS_NO_EMULATION=1 says not to
# try), and are reported as skipped otherwise; the emulator is unregistered again at the end.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
detect_i686_mode
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(native i686 x86_64 clang-x86_64 clang-i686)

# A run that was killed may have left the emulator registered: start from the host as it is.
if [ "$KS_I686_MODE" = emulated ]; then "$root/scripts/emulate32.sh" off; detect_i686_mode; fi
if [[ " ${archs[*]} " == *" i686 "* ]] && [ "$KS_I686_MODE" = none ] && [ -z "${KS_NO_EMULATION:-}" ]; then
  echo "== this host cannot run 32-bit programs ($KS_I686_WHY): trying qemu's user-mode emulator for the i686 tests"
  if "$root/scripts/bootstrap.sh" --emulator && why=$("$root/scripts/emulate32.sh" on); then
    trap '"$root/scripts/emulate32.sh" off' EXIT
    detect_i686_mode
  else
    echo "   no emulator: ${why:-its package could not be installed}"
  fi
fi
echo "== i686 mode: $KS_I686_MODE, because $KS_I686_WHY"
case "$KS_I686_MODE" in
  native)   echo "   32-bit programs run natively: every Wine test runs for both bitnesses" ;;
  emulated) echo "   32-bit programs run under emulation: the i686 Wine tests run as one process (i686_suite)" ;;
  none)     echo "   this host cannot run 32-bit programs: the i686 DLL is built and checked, its Wine tests are skipped" ;;
esac

# Each flavour's tests run while the next flavour builds: the Wine tests mostly wait on Wine and
# leave the cores to the build. Two flavours' tests never run at once (they share the Wine prefix).
status=0 testing= test_pid= test_start=0
finish_tests() {  # waits for the flavour under test, then shows its output
  [ -n "$testing" ] || return 0
  wait "$test_pid" || status=1
  cat "$build/$testing.test.log"
  echo "== $testing tested ($SECONDS s since the start)"
  testing=
}
for arch in "${archs[@]}"; do
  if ! configure_and_build "$arch"; then finish_tests; exit 1; fi
  finish_tests
  filter=()
  case "$arch" in
    # The one-process suite exists for emulation only; elsewhere the same tests ran one by one.
    i686) if [ "$KS_I686_MODE" != emulated ]; then filter=(-LE i686_suite); fi ;;
    # What ships is GCC's: the clang build runs the Wine tests and the analysis, not the packages.
    clang-x86_64) filter=(-E '^package_') ;;
    # The 32-bit clang build is there to compile and link: its DLL's exports and imports.
    clang-i686) filter=(-R '^dll_exports_imports$') ;;
  esac
  echo "== testing $arch (built at $SECONDS s; its output follows when done)"
  test_start=$SECONDS
  (
    tested=0
    cd "$build/$arch" && ctest --output-on-failure --timeout 900 "${filter[@]}" || tested=$?
    echo "== $arch: tests took $((SECONDS - test_start)) s"
    exit $tested
  ) >"$build/$arch.test.log" 2>&1 &
  test_pid=$! testing=$arch
done
finish_tests
exit $status
