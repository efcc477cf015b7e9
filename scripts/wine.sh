#!/usr/bin/env bash
# The one place that starts Windows programs. Usage:
#   wine.sh x86_64|i686 PROGRAM [ARGS...]     run PROGRAM with the loader of that bitness
#   wine.sh --suite i686 PROGRAM [ARGS...]    the same, but only where 32-bit programs run under emulation
#   wine.sh --gtest ARCH PROGRAM [ARGS...]    run a googletest program: exit 0 only when it also printed
#                                             its passing summary with at least one test run (a program
#                                             that dies quietly, or calls exit(0) half-way, never reaches
#                                             that line; a filter or registration mistake runs none) and
#                                             Wine's heap checks reported nothing; 77 (skipped) when
#                                             every test it ran skipped itself
#   wine.sh --prefix [--heap-check] PROGRAM.exe...
#                                             create WINEPREFIX when it is missing, start a persistent
#                                             wineserver, and turn Wine's full heap validation on (or,
#                                             without --heap-check, off) for the programs of those names
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
wineserver=/usr/lib/wine/wineserver
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

# Image File Execution Options of the named programs: FLG_HEAP_VALIDATE_ALL (0x80) makes Wine 8
# check every block of a heap, tail bytes included, on each heap call, and report what it finds
# on the err:heap channel. It is the one global flag that catches a one-byte overrun of a block
# that is freed before anything looks: tail checking alone (0x10, or WINEDEBUG=warn+heap) only
# fills the tail, and the free overwrites it. Wine reads the flag per program name, in one key
# that both bitnesses see.
ifeo='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'
prepare_prefix() {  # [--heap-check] program.exe...
  local check=0 reg
  [ "${1:-}" = --heap-check ] && { check=1; shift; }
  : "${WINEPREFIX:?wine.sh --prefix: WINEPREFIX is not set}"
  case "$WINEPREFIX" in /*) ;; *) echo "wine.sh: WINEPREFIX must be an absolute path: '$WINEPREFIX'" >&2; exit 2 ;; esac
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine.sh: creating Wine prefix $WINEPREFIX (about a minute)"
    mkdir -p "$WINEPREFIX"
    WINELOADER=$loader64 "$loader64" wineboot -i >/dev/null 2>&1 </dev/null
    "$wineserver" -w
  fi
  # A persistent server, and Wine's background processes started by one program run before any
  # test: started by a test's program they would hold its output open and stall ctest.
  "$wineserver" -p >/dev/null 2>&1 </dev/null
  reg=$(mktemp --suffix=.reg) || exit 1
  {
    printf 'REGEDIT4\n\n'
    for program in "$@"; do
      if [ $check -eq 1 ]; then
        printf '[%s\\%s]\n"GlobalFlag"=dword:00000080\n\n' "$ifeo" "$program"
      else
        printf '[-%s\\%s]\n\n' "$ifeo" "$program"
      fi
    done
  } >"$reg"
  # Wine's drive Z: is the Unix root.
  WINELOADER=$loader64 "$loader64" regedit /s "Z:${reg//\//\\}" >/dev/null 2>&1 </dev/null
  local status=$?
  rm -f "$reg"
  return $status
}

if [ "${1:-}" = --mode ]; then echo "$mode"; exit 0; fi
if [ "${1:-}" = --prefix ]; then shift; prepare_prefix "$@"; exit; fi
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

# googletest prints "[  PASSED  ] N tests." last, "[  SKIPPED ] N tests" when tests skipped
# themselves, and "[  FAILED  ]" lines when any failed; the program's own exit code must be 0 as
# well. Wine's heap checks (see --prefix) report on its err:heap and warn:heap channels, which the
# Wine tests enable: any such line fails the run, whatever the program said. A damaged heap fails
# every later heap call under the validation, is reported again on each, and was seen to leave a
# program hanging: the program is stopped at the first report.
heap_report='^[0-9a-f]+:(err|warn):heap:'
run_gtest() {  # loader program [args...]
  local log status passed skipped pid shown watch
  log=$(mktemp) || exit 1
  "$@" >"$log" 2>&1 &
  pid=$!
  # The output as it comes, with the first heap report only.
  tail -s 0.2 -n +1 -f --pid=$pid "$log" |
    awk -v report="$heap_report" '$0 ~ report { if (seen++) next } { print; fflush() }' &
  shown=$!
  { tail -s 0.2 -n +1 -f --pid=$pid "$log" | grep -qE -m 1 "$heap_report" && kill -KILL $pid 2>/dev/null; } &
  watch=$!
  wait $pid
  status=$?
  wait $shown $watch
  passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -n 1)
  skipped=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?,.*/\1/p' "$log" | tail -n 1)
  if grep -qE "$heap_report" "$log"; then
    echo "wine.sh: Wine's heap checks reported a damaged heap in $2 (the err:heap/warn:heap line above); stopped it there"
    status=1
  elif [ "$status" -eq 0 ]; then
    if [ -z "$passed" ] || grep -q '^\[  FAILED  \]' "$log"; then
      echo "wine.sh: $2 exited 0 without googletest's passing summary: it ended before its tests did"
      status=1
    elif [ "$passed" -eq 0 ] && [ "${skipped:-0}" -gt 0 ]; then
      echo "wine.sh: every test of $2 skipped itself"
      status=$skip
    elif [ "$passed" -eq 0 ]; then
      echo "wine.sh: $2 ran no test: a filter or a registration mistake left nothing to run"
      status=1
    fi
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
