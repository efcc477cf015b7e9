#!/usr/bin/env bash
# The one place that starts Windows programs. Usage:
#   wine.sh x86_64|i686 PROGRAM [ARGS...]     run PROGRAM with the loader of that bitness
#   wine.sh --suite i686 PROGRAM [ARGS...]    the same, but only where 32-bit programs run under emulation
#   wine.sh --gtest ARCH PROGRAM [ARGS...]    run a googletest program: exit 0 only when it also printed
#                                             its passing summary (a program that dies quietly, or
#                                             calls exit(0) half-way, never reaches that line)
#   wine.sh --mode                            print how this host runs 32-bit programs
#   wine.sh --why                             the same, followed by the reason on the same line
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

# Prints the mode, then why.
detect_i686_mode() {
  local emulated=0 error
  [ -e /proc/sys/fs/binfmt_misc/ks-qemu-i386 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/ks-qemu-i386 2>/dev/null && emulated=1
  if [ $emulated -eq 0 ] && [ -n "${KS_NO_32BIT:-}" ]; then echo "none KS_NO_32BIT is set"; return; fi
  if [ ! -e "$loader32" ]; then echo "none the 32-bit Wine loader $loader32 is not installed (Debian package wine32:i386)"; return; fi
  if error=$("$loader32" --version 2>&1); then
    if [ $emulated -eq 1 ]; then
      echo "emulated the 32-bit Wine loader starts only through qemu's user-mode emulator, registered by scripts/emulate32.sh"
    else
      echo "native the 32-bit Wine loader starts on this kernel ($error)"
    fi
  else
    echo "none the 32-bit Wine loader does not start on this kernel: $(head -n 1 <<<"$error")"
  fi
}

mode=${KS_I686_MODE:-}
why=${KS_I686_WHY:-}
if [ -z "$mode" ]; then
  read -r mode why < <(detect_i686_mode)
fi

if [ "${1:-}" = --mode ]; then echo "$mode"; exit 0; fi
if [ "${1:-}" = --why ]; then echo "$mode ${why:-given by KS_I686_MODE}"; exit 0; fi
suite=0 gtest=0
while :; do
  case "${1:-}" in
    --suite) suite=1; shift ;;
    --gtest) gtest=1; shift ;;
    *) break ;;
  esac
done
arch=${1:?usage: wine.sh x86_64|i686 PROGRAM [ARGS...]}
shift

# googletest prints "[  PASSED  ] N tests." last, and "[  FAILED  ]" lines when any failed; the
# program's own exit code must be 0 as well.
run_gtest() {  # loader program [args...]
  local log status
  log=$(mktemp) || exit 1
  "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] && { ! grep -qE '^\[  PASSED  \] [0-9]+ tests?\.' "$log" || grep -q '^\[  FAILED  \]' "$log"; }; then
    echo "wine.sh: $2 exited 0 without googletest's passing summary: it ended before its tests did"
    status=1
  fi
  rm -f "$log"
  exit "$status"
}
run() {  # loader program [args...]
  export WINELOADER=$1
  [ $gtest -eq 1 ] && run_gtest "$@"
  exec "$@"
}

case "$arch" in
  x86_64)
    run "$loader64" "$@" ;;
  i686)
    case "$mode" in
      none)
        echo "skipped: this host cannot run 32-bit programs (i686 mode: none; $why); see README, 'What runs where'"
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
    run "$loader32" "$@" ;;
  *)
    echo "wine.sh: unknown bitness '$arch'" >&2
    exit 2 ;;
esac
