#!/usr/bin/env bash
# Install, use, repair and remove the real package with Wine's msiexec, in a Wine prefix of its own
# (kept between runs; the product is removed at the start if a killed run left it installed).
# Usage: msi_test.sh ARCH PACKAGE.msi CLIENT.exe DUMP.exe PREFIX
#   CLIENT creates the class by programmatic identifier and prints the store's install folder;
#   DUMP (the server test) prints registration entries and user settings in ARCH's view.
set -u -o pipefail
source "$(dirname "$0")/lib.sh"
arch=$1 msi=$2 client=$3 dump=$4
require_bitness "$arch"
use_prefix "$5"

run() { run_as "$arch" "$@"; }
msiexec() { msiexec_as "$arch" "$@"; }
expect_msiexec() { expect_msiexec_as "$arch" "$@"; }
registration() { run "$dump" --dump-registration; }
settings() { run "$dump" --dump-settings; }
# The only differences between the package's type library keys and the platform's own
# registration: the installer writes folders with a trailing backslash, and Wine's RegisterTypeLib
# adds the disk-image bit (8) to the library's flags.
normalised() { sed -E '/\|1\.0\\HELPDIR\|\|1\|/s/5c00$/00/; /\|1\.0\\FLAGS\|\|1\|/s/\|3800$/|3000/'; }

product=$(product_code "$msi")
[ -n "$product" ] || { echo "FAIL: no ProductCode in $msi (msiinfo, from msitools)"; exit 1; }
package='C:\ks-package\Registry.msi'
mkdir -p "$WINEPREFIX/drive_c/ks-package"
cp "$msi" "$WINEPREFIX/drive_c/ks-package/Registry.msi"
folder="$(program_files "$arch")\\Stellwick\\Keystrel 4.0"
dll="$folder\\Registry.dll"
unix_folder=$(run winepath -u "$folder")

# What a killed or failed run may have left: the product, and the keys that hold its strays below.
msiexec /x "$product" /qn >/dev/null
run reg delete 'HKCR\StwKs4.EventConfig' /f >/dev/null
run reg delete 'HKCR\AppID\Registry.DLL' /f >/dev/null
expect_msiexec 1605 "removing a product that is not installed" /x "$product" /qn
expect_unregistered "before installing" "$(registration)"

# The user's settings, which nothing of the package may touch.
for key in 'Software\Stellwick\Keystrel 4.0\Sample Scanner' 'Software\Stellwick Backup\Sample Scanner'; do
  run reg add "HKCU\\$key" /v PackageTest /t REG_SZ /d kept /f >/dev/null
done

expect_msiexec 0 "silent install" /i "$package" /qn
installed=$(registration)
grep -q '<absent>' <<<"$installed" && fail "install left entries out:"$'\n'"$installed"
served=$(run "$client") || fail "the client could not create the class by ProgID after install: $served"
[ "$served" = "$folder" ] || fail "the client was served from '$served', not the installed '$folder'"
"$arch-w64-mingw32-objdump" -h "$unix_folder/Registry.dll" | grep -q ' \.debug_' &&
  fail "the package installed Registry.dll with its debug information"

# The DLL's own registration writes exactly what the package wrote, and removes all of it.
run regsvr32 /u /s "$dll" >/dev/null || fail "regsvr32 /u of the installed DLL"
expect_unregistered "after regsvr32 /u" "$(registration)"
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
expect_unregistered "after removal" "$(registration)"
[ ! -e "${unix_folder%/*}" ] || fail "removal left ${unix_folder%/*} (or the folder below it)"
[ "$(settings)" = "$before" ] || fail "removal changed the user's settings"
grep -q 'PackageTest' <<<"$before" || fail "the seeded user settings are missing"
run "$client" >/dev/null && fail "the client still creates the class after removal"
expect_msiexec 1605 "removing again by product code" /x "$product" /qn
# Wine's msiexec answers 0 where Windows answers 1605 for a package that is not installed.
expect_msiexec "0 1605" "removing again by package" /x "$package" /qn
expect_unregistered "after removing again" "$(registration)"

for key in 'Software\Stellwick\Keystrel 4.0\Sample Scanner' 'Software\Stellwick Backup\Sample Scanner'; do
  run reg delete "HKCU\\$key" /v PackageTest /f >/dev/null
done
[ $failures -eq 0 ] && echo "package $arch: install, use, repair and removal as expected"
exit $((failures > 0))
