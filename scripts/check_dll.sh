#!/usr/bin/env bash
# Checks a built Registry.dll or ksconfig.exe as it ships:
#   - a DLL exports the four entry points undecorated;
#   - only system DLLs are imported (never the compiler's runtime DLLs, libssp's included);
#   - the loader may place it anywhere and keeps data from running: DYNAMIC_BASE with relocations
#     to move it by, NX_COMPAT, HIGH_ENTROPY_VA for 64-bit, and no section both writable and
#     executable;
#   - with --checksum, the PE checksum in the header is the file's (a signed file's must be).
# The header fields are read from the file itself, not through objdump's reading of them.
# Usage: check_dll.sh [--checksum] <objdump> <file>
set -euo pipefail
checksum=0
[ "$1" = --checksum ] && { checksum=1; shift; }
objdump=$1 file=$2
status=0
fail() { echo "$(basename "$file"): $*"; status=1; }

u16() { od -An -tu2 --endian=little -j "$1" -N2 "$file" | tr -d ' '; }
u32() { od -An -tu4 --endian=little -j "$1" -N4 "$file" | tr -d ' '; }
pe=$(u32 60)
[ "$(od -An -c -j "$pe" -N2 "$file" | tr -d ' ')" = PE ] || { echo "$(basename "$file"): not a PE file"; exit 1; }
opt=$((pe + 24))
case $(u16 "$opt") in
  267) pe64=0 dirs=$((opt + 96)) ;;   # PE32
  523) pe64=1 dirs=$((opt + 112)) ;;  # PE32+
  *) echo "$(basename "$file"): unknown optional header"; exit 1 ;;
esac

if [[ $file == *.dll ]]; then
  dump=$("$objdump" -p "$file")
  for e in DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer; do
    grep -qE "^\s+\[ *[0-9]+\] $e\$" <<<"$dump" || fail "missing undecorated export $e"
  done
else
  dump=$("$objdump" -p "$file")
fi
allowed='^(KERNEL32|ADVAPI32|ntdll|ole32|OLEAUT32|USER32|msvcrt|SHELL32|SHFOLDER|PSAPI|WTSAPI32|VERSION|api-ms-win-.*)\.dll$'
while read -r name; do
  grep -qiE "$allowed" <<<"$name" || fail "non-system import: $name"
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')

dllchars=$(u16 $((opt + 70)))
(( dllchars & 0x40 )) || fail "DYNAMIC_BASE is not set: the loader cannot place it at a random address"
(( dllchars & 0x100 )) || fail "NX_COMPAT is not set: its data may be executed"
(( pe64 == 0 || dllchars & 0x20 )) || fail "HIGH_ENTROPY_VA is not set: 64-bit ASLR uses only the low 4 GB"
# DYNAMIC_BASE without relocations is a promise the loader cannot keep.
(( $(u16 $((pe + 22))) & 0x1 )) && fail "relocations are stripped"
[ "$(u32 $((dirs + 5 * 8 + 4)))" -gt 0 ] || fail "no base relocations, so DYNAMIC_BASE cannot move it"
sections=$((opt + $(u16 $((pe + 20)))))
for ((i = 0; i < $(u16 $((pe + 6))); i++)); do
  header=$((sections + 40 * i))
  flags=$(u32 $((header + 36)))
  if (( flags & 0x20000000 && flags & 0x80000000 )); then
    fail "section $(head -c $((header + 8)) "$file" | tail -c 8 | tr -d '\0') is both writable and executable"
  fi
done

if [ $checksum -eq 1 ]; then
  # The checksum is the file's 16-bit words summed with end-around carry, the checksum field
  # itself left out, plus the file's length.
  field=$((opt + 64))
  calculated=$(od -An -v -tu2 --endian=little -w2 "$file" |
    awk -v skip=$((field / 2)) -v len="$(stat -c %s "$file")" '
      NR - 1 == skip || NR - 1 == skip + 1 { next }
      { s += $1; if (s >= 65536) s -= 65535 }
      END { printf "%d\n", s + len }')
  [ "$calculated" = "$(u32 "$field")" ] ||
    fail "$(printf 'the PE checksum in the header (%08X) is not the file'"'"'s (%08X)' "$(u32 "$field")" "$calculated")"
fi

[ $status -eq 0 ] && echo "$(basename "$file"): exports, imports and hardening ok$([ $checksum -eq 0 ] || echo ', PE checksum valid')"
exit $status
