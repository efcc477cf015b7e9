#!/usr/bin/env bash
# Checks a built Registry.dll: the four entry points exported undecorated, and only system DLLs
# imported (never the compiler's runtime DLLs). Usage: check_dll.sh <objdump> <dll>
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")
status=0
for e in DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer; do
  grep -qE "^\s+\[ *[0-9]+\] $e\$" <<<"$dump" || { echo "missing undecorated export $e"; status=1; }
done
allowed='^(KERNEL32|ADVAPI32|ntdll|ole32|OLEAUT32|USER32|msvcrt|SHELL32|SHFOLDER|PSAPI|WTSAPI32|api-ms-win-.*)\.dll$'
while read -r name; do
  grep -qiE "$allowed" <<<"$name" || { echo "non-system import: $name"; status=1; }
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')
[ $status -eq 0 ] && echo "exports and imports ok"
exit $status
