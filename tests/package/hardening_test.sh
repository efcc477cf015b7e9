#!/usr/bin/env bash
# scripts/check_dll.sh on every shipped binary (exports, system imports only, the loader's
# protections, a valid PE checksum), and on copies of the first one with one protection taken
# away each: the check must refuse every copy, naming what is missing.
# Usage: hardening_test.sh OBJDUMP ARCH SHIPPED_BINARY...
set -u -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
objdump=$1 arch=$2
shift 2
check=$root/scripts/check_dll.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for file in "$@"; do
  "$check" --checksum "$objdump" "$file" || fail "$(basename "$file") fails the check"
done

# Planted faults, in copies of the first binary (a DLL keeps its name: the exports are checked).
dll=$1
u16() { od -An -tu2 --endian=little -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 --endian=little -j "$2" -N4 "$1" | tr -d ' '; }
put16() { printf "\\x$(printf %02x $(($3 & 255)))\\x$(printf %02x $(($3 >> 8)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
put32() { put16 "$1" "$2" $(($3 & 65535)); put16 "$1" $(($2 + 2)) $(($3 >> 16)); }
pe=$(u32 "$dll" 60)
dllchars=$((pe + 24 + 70))
planted() {  # name, expected message, then the change as a command on $copy
  local name=$1 expected=$2 out
  shift 2
  mkdir -p "$work/$name"
  copy=$work/$name/$(basename "$dll")
  cp "$dll" "$copy"
  "$@"
  if out=$("$check" --checksum "$objdump" "$copy"); then
    fail "the check passed a binary with $name"
  elif ! grep -q -- "$expected" <<<"$out"; then
    fail "the check refused a binary with $name, but said: $out"
  fi
}
clear_flag() { put16 "$copy" "$dllchars" $(( $(u16 "$copy" "$dllchars") & ~$1 )); }
planted "DYNAMIC_BASE cleared" "DYNAMIC_BASE is not set" clear_flag 0x40
planted "NX_COMPAT cleared" "NX_COMPAT is not set" clear_flag 0x100
[ "$arch" = x86_64 ] && planted "HIGH_ENTROPY_VA cleared" "HIGH_ENTROPY_VA is not set" clear_flag 0x20
strip_relocs() { put16 "$copy" $((pe + 22)) $(( $(u16 "$copy" $((pe + 22))) | 1 )); }
planted "relocations marked stripped" "relocations are stripped" strip_relocs
# The first writable section (.data) made executable as well.
make_wx() {
  local sections=$((pe + 24 + $(u16 "$copy" $((pe + 20))))) i flags
  for ((i = 0; i < $(u16 "$copy" $((pe + 6))); i++)); do
    flags=$(u32 "$copy" $((sections + 40 * i + 36)))
    if (( flags & 0x80000000 )); then put32 "$copy" $((sections + 40 * i + 36)) $((flags | 0x20000000)); return; fi
  done
}
planted "a writable and executable section" "both writable and executable" make_wx
bad_checksum() { put32 "$copy" $((pe + 24 + 64)) $(( $(u32 "$copy" $((pe + 24 + 64))) ^ 0x5a5a )); }
planted "a wrong PE checksum" "PE checksum" bad_checksum

[ $failures -eq 0 ] && echo "hardening: $# shipped binaries pass; the check refuses each planted fault"
exit $((failures > 0))
