#!/usr/bin/env bash
# Install, use, repair and remove the real package with Wine's msiexec, in a Wine prefix of its own
# (kept between runs; the product is removed at the start if a killed run left it installed).
# Usage: msi_test.sh ARCH PACKAGE.msi CLIENT.exe DUMP.exe PREFIX
#   CLIENT creates the class by programmatic identifier and prints the store's install folder;
#   DUMP (the server test) prints registration entries and user settings in ARCH's view.
set -u -o pipefail
arch=$1 msi=$2 client=$3 dump=$4
export WINEPREFIX=$5 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=$root/scripts/wine.sh
wineserver=/usr/lib/wine/wineserver

"$wine" "$arch" --version >/dev/null
[ $? -eq 77 ] && { "$wine" "$arch" --version; exit 77; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating Wine prefix $WINEPREFIX"
  "$wine" x86_64 wineboot -i >/dev/null 2>&1 </dev/null
  "$wineserver" -w
fi
# A persistent server, so that Wine's background processes do not hold our output open.
"$wineserver" -p >/dev/null 2>&1 </dev/null
trap '"$wineserver" -k >/dev/null 2>&1' EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { "$wine" "$arch" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# msiexec's whole exit code (a Unix exit status keeps only its low byte).
msiexec() { run cmd.exe /v:on /c "start /wait msiexec $* & echo exit=!errorlevel!" | sed -n 's/^exit=//p'; }
expect_msiexec() {  # expected codes, description, msiexec arguments...
  local expected=$1 what=$2 code
  shift 2
  code=$(msiexec "$@")
  [[ " $expected " == *" $code "* ]] || fail "$what: msiexec $* returned '$code', expected $expected"
}
registration() { run "$dump" --dump-registration; }
settings() { run "$dump" --dump-settings; }
# The only differences between the package's type library keys and the platform's own
# registration: the installer writes folders with a trailing backslash, and Wine's RegisterTypeLib
# adds the disk-image bit (8) to the library's flags.
normalised() { sed -E '/\|1\.0\\HELPDIR\|\|1\|/s/5c00$/00/; /\|1\.0\\FLAGS\|\|1\|/s/\|3800$/|3000/'; }
expect_unregistered() {
  local dumped
  dumped=$(registration)
  [ "$(grep -c '<absent>' <<<"$dumped")" -eq 6 ] || fail "$1: registration entries left:"$'\n'"$dumped"
  grep -q '^CLSID <present>' <<<"$dumped" && grep -q '^AppID <present>' <<<"$dumped" ||
    fail "$1: HKCR\\CLSID or HKCR\\AppID went too"
}

product=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
[ -n "$product" ] || { echo "FAIL: no ProductCode in $msi (msiinfo, from msitools)"; exit 1; }
package='C:\ks-package\Registry.msi'
mkdir -p "$WINEPREFIX/drive_c/ks-package"
cp "$msi" "$WINEPREFIX/drive_c/ks-package/Registry.msi"
if [ "$arch" = x86_64 ]; then folder='C:\Program Files\Stellwick\Keystrel 4.0'
else folder='C:\Program Files (x86)\Stellwick\Keystrel 4.0'; fi
dll="$folder\\Registry.dll"
unix_folder=$(run winepath -u "$folder")

# What a killed or failed run may have left: the product, and the keys that hold its strays below.
msiexec /x "$product" /qn >/dev/null
run reg delete 'HKCR\StwKs4.EventConfig' /f >/dev/null
run reg delete 'HKCR\AppID\Registry.DLL' /f >/dev/null
expect_msiexec 1605 "removing a product that is not installed" /x "$product" /qn
expect_unregistered "before installing"

# The user's settings, which nothing of the package may touch.
for key in 'Software\Stellwick\Keystrel 4.0\Sample Scanner' 'Software\Stellwick Backup\Sample Scanner'; do
  run reg add "HKCU\\$key" /v PackageTest /t REG_SZ /d kept /f >/dev/null
done

expect_msiexec 0 "silent install" /i "$package" /qn
installed=$(registration)
grep -q '<absent>' <<<"$installed" && fail "install left entries out:"$'\n'"$installed"
served=$(run "$client") || fail "the client could not create the class by ProgID after install: $served"
[ "$served" = "$folder" ] || fail "the client was served from '$served', not the installed '$folder'"

# The DLL's own registration writes exactly what the package wrote, and removes all of it.
run regsvr32 /u /s "$dll" >/dev/null || fail "regsvr32 /u of the installed DLL"
expect_unregistered "after regsvr32 /u"
run regsvr32 /s "$dll" >/dev/null || fail "regsvr32 of the installed DLL"
diff <(normalised <<<"$installed") <(registration | normalised) ||
  fail "the package and self-registration write different entries (< package, > regsvr32)"

# Repair brings back a lost registration and a deleted file.
run regsvr32 /u /s "$dll" >/dev/null
rm -f "$unix_folder/ksconfig.exe"
expect_msiexec 0 "repair" /i "$package" REINSTALL=ALL REINSTALLMODE=omus /qn
[ "$(registration)" = "$installed" ] || fail "repair did not restore the registration"
[ -f "$unix_folder/ksconfig.exe" ] || fail "repair did not restore ksconfig.exe"
run "$client" >/dev/null || fail "the client failed after repair"

expect_msiexec 0 "installing again" /i "$package" /qn
[ "$(registration)" = "$installed" ] || fail "installing again changed the registration"

# Removal takes each key whole, as unregistration does, with what others added below it.
run reg add 'HKCR\StwKs4.EventConfig\Stray' /v Stray /t REG_SZ /d x /f >/dev/null
run reg add 'HKCR\AppID\Registry.DLL\Stray' /f >/dev/null
before=$(settings)
expect_msiexec 0 "silent removal" /x "$package" /qn
expect_unregistered "after removal"
[ ! -e "$unix_folder" ] || fail "removal left $unix_folder"
[ "$(settings)" = "$before" ] || fail "removal changed the user's settings"
grep -q 'PackageTest' <<<"$before" || fail "the seeded user settings are missing"
run "$client" >/dev/null && fail "the client still creates the class after removal"
expect_msiexec 1605 "removing again by product code" /x "$product" /qn
# Wine's msiexec answers 0 where Windows answers 1605 for a package that is not installed.
expect_msiexec "0 1605" "removing again by package" /x "$package" /qn
expect_unregistered "after removing again"

for key in 'Software\Stellwick\Keystrel 4.0\Sample Scanner' 'Software\Stellwick Backup\Sample Scanner'; do
  run reg delete "HKCU\\$key" /v PackageTest /f >/dev/null
done
[ $failures -eq 0 ] && echo "package $arch: install, use, repair and removal as expected"
exit $((failures > 0))
