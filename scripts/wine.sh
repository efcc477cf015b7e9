#!/usr/bin/env bash
# The one place that starts Windows programs. Usage:
#   wine.sh x86_64|i686 PROGRAM [ARGS...]     run PROGRAM with the loader of that bitness
#   wine.sh --suite i686 PROGRAM [ARGS...]    the same, but only where 32-bit programs run under emulation
#   wine.sh --mode                            print how this host runs 32-bit programs
#
# /usr/bin/wine always picks the 32-bit loader when it is installed, even on a kernel that cannot
# execute 32-bit programs, so 64-bit programs go through the 64-bit loader directly; WINELOADER
# makes the processes they start use it too.
#
# The i686 mode is one of:
#   native    the 32-bit loader runs on this kernel
#   emulated  it runs only through the user-mode emulator this project registered (scripts/emulate32.sh);
#             each process start costs about a minute, so the Wine tests run as one suite process
#   none      32-bit programs cannot run here: i686 runs are skipped (exit 77) with the reason
# KS_NO_32BIT=1 treats the host as one whose kernel cannot run 32-bit programs, whatever it can do.
# KS_I686_MODE, when set (scripts/common.sh exports it), is used instead of detecting again.
set -u
loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64
skip=77

detect_i686_mode() {
  local emulated=0
  [ -e /proc/sys/fs/binfmt_misc/ks-qemu-i386 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/ks-qemu-i386 2>/dev/null && emulated=1
  if [ $emulated -eq 0 ] && [ -n "${KS_NO_32BIT:-}" ]; then echo none; return; fi
  if "$loader32" --version >/dev/null 2>&1; then
    [ $emulated -eq 1 ] && echo emulated || echo native
  else
    echo none
  fi
}

mode=${KS_I686_MODE:-}
[ -n "$mode" ] || mode=$(detect_i686_mode)

if [ "${1:-}" = --mode ]; then echo "$mode"; exit 0; fi
suite=0
if [ "${1:-}" = --suite ]; then suite=1; shift; fi
arch=${1:?usage: wine.sh x86_64|i686 PROGRAM [ARGS...]}
shift

case "$arch" in
  x86_64)
    export WINELOADER=$loader64
    exec "$loader64" "$@" ;;
  i686)
    case "$mode" in
      none)
        echo "skipped: this host cannot run 32-bit programs (i686 mode: none); see README, 'What runs where'"
        exit $skip ;;
      emulated)
        if [ $suite -eq 0 ]; then
          echo "skipped: 32-bit programs run here only under emulation; the i686 Wine tests run as one process (i686_suite)"
          exit $skip
        fi ;;
      native)
        if [ $suite -eq 1 ]; then
          echo "skipped: this host runs 32-bit programs natively, so the i686 Wine tests ran one by one"
          exit $skip
        fi ;;
    esac
    export WINELOADER=$loader32
    exec "$loader32" "$@" ;;
  *)
    echo "wine.sh: unknown bitness '$arch'" >&2
    exit 2 ;;
esac
