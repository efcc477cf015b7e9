#!/usr/bin/env bash
# Packages that share the store, under Wine's msiexec in a Wine prefix of the test's own:
#   - the store's own package and a package of another product built from the fragment (as the
#     utility's installer is), of each bitness: removing either leaves the registration as it was
#     and the class served from the same folder;
#   - the 32-bit and the 64-bit package together: removing either leaves the other's
#     registration, class and type library as they were.
# Once the last package is gone, nothing is left: no registration in either view, no folder.
# Usage: coexist_test.sh X86_64_BUILD I686_BUILD PREFIX
#   Each build folder holds its packages (package/*.msi, package/test/Utility-*.msi), the sample
#   client (bin/ksclient.exe) and the server test (bin/test_server.exe), which prints the
#   registration entries in its bitness's view. Without a usable i686 build only the 64-bit
#   packages are tried, and the test then reports itself skipped (77), not passed.
set -u -o pipefail
source "$(dirname "$0")/lib.sh"
declare -A build=([x86_64]=$1 [i686]=$2)
require_bitness x86_64
archs=(x86_64)
if [ -f "${build[i686]}/bin/test_server.exe" ] && "$wine" i686 --version >/dev/null 2>&1; then
  archs+=(i686)
else
  echo "the 32-bit packages are left out: no i686 build in ${build[i686]}, or this host cannot run 32-bit programs"
fi
use_prefix "$3"

own() { ls "${build[$1]}"/package/KeystrelRegistry-*-"$1".msi; }
utility() { echo "${build[$1]}/package/test/Utility-$1.msi"; }
registration() { run_as "$1" "${build[$1]}/bin/test_server.exe" --dump-registration; }
folder() { echo "$(program_files "$1")\\Stellwick\\Keystrel 4.0"; }
unix_path() { run_as x86_64 winepath -u "$1"; }
install() { expect_msiexec_as "$1" 0 "installing $(basename "$2")" /i "C:\\ks-coexist\\$(basename "$2")" /qn; }
remove() { expect_msiexec_as "$1" 0 "removing $(basename "$2")" /x "C:\\ks-coexist\\$(basename "$2")" /qn; }
expect_served() {  # arch, when
  local served
  served=$(run_as "$1" "${build[$1]}/bin/ksclient.exe") || { fail "$2: the $1 client could not create the class: $served"; return; }
  [ "$served" = "$(folder "$1")" ] || fail "$2: the $1 client was served from '$served', not '$(folder "$1")'"
}
expect_registration() {  # arch, expected dump, when
  diff <(echo "$2") <(registration "$1") >/dev/null ||
    fail "$3: the $1 registration changed (< before, > now):"$'\n'"$(diff <(echo "$2") <(registration "$1"))"
}

# What a killed run may have left. Each build's packages have product codes of their own, so
# packages of an earlier build are found only by what they left: then the prefix starts anew.
for arch in "${archs[@]}"; do
  for msi in "$(utility "$arch")" "$(own "$arch")"; do msiexec_as "$arch" /x "$(product_code "$msi")" /qn >/dev/null; done
done
for arch in "${archs[@]}"; do
  if grep -qv '<absent>\|<present>' <<<"$(registration "$arch")"; then
    echo "packages of an earlier build are installed in $WINEPREFIX: starting with a new prefix"
    "$wineserver" -k
    rm -rf "$WINEPREFIX"
    use_prefix "$WINEPREFIX"
    break
  fi
done
for arch in "${archs[@]}"; do expect_unregistered "$arch before installing" "$(registration "$arch")"; done
# Packages are installed from a copy inside the prefix, which repairs would find again.
mkdir -p "$WINEPREFIX/drive_c/ks-coexist"
for arch in "${archs[@]}"; do cp "$(own "$arch")" "$(utility "$arch")" "$WINEPREFIX/drive_c/ks-coexist/"; done

for arch in "${archs[@]}"; do
  own_msi=$(own "$arch") utility_msi=$(utility "$arch")
  install "$arch" "$own_msi"
  alone=$(registration "$arch")
  install "$arch" "$utility_msi"
  remove "$arch" "$own_msi"
  expect_registration "$arch" "$alone" "$arch: the own package removed, the utility's still installed"
  expect_served "$arch" "$arch: the own package removed, the utility's still installed"
  install "$arch" "$own_msi"
  remove "$arch" "$utility_msi"
  expect_registration "$arch" "$alone" "$arch: the utility's package removed, the own one still installed"
  expect_served "$arch" "$arch: the utility's package removed, the own one still installed"
  [ ! -e "$(unix_path "$(folder "$arch")\\utility.ks4")" ] || fail "$arch: the utility's own file outlived its package"
  remove "$arch" "$own_msi"
done

if [ ${#archs[@]} -eq 2 ]; then
  install i686 "$(own i686)"
  alone32=$(registration i686)
  install x86_64 "$(own x86_64)"
  # The type library's version key is one for both views, with a path for each bitness below it.
  both64=$(registration x86_64)
  grep -q '\\0\\win32|' <<<"$both64" && grep -q '\\0\\win64|' <<<"$both64" ||
    fail "with both packages the type library does not name both DLLs:"$'\n'"$both64"
  remove i686 "$(own i686)"
  expect_registration x86_64 "$(grep -v '\\0\\win32' <<<"$both64")" "the 32-bit package removed"
  expect_served x86_64 "the 32-bit package removed"
  run_as i686 "${build[i686]}/bin/ksclient.exe" >/dev/null && fail "the 32-bit class outlived its package"
  install i686 "$(own i686)"
  remove x86_64 "$(own x86_64)"
  # The help folder is the one the last installed package wrote, here the 32-bit one's.
  expect_registration i686 "$alone32" "the 64-bit package removed"
  expect_served i686 "the 64-bit package removed"
  run_as x86_64 "${build[x86_64]}/bin/ksclient.exe" >/dev/null && fail "the 64-bit class outlived its package"
  remove i686 "$(own i686)"
fi

for arch in "${archs[@]}"; do
  expect_unregistered "$arch after removing every package" "$(registration "$arch")"
  stellwick=$(unix_path "$(program_files "$arch")\\Stellwick")
  [ ! -e "$stellwick" ] || fail "$arch: removing every package left $stellwick"
done
[ $failures -eq 0 ] || exit 1
echo "packages sharing the store (${archs[*]}): each removal left the others working"
if [ ${#archs[@]} -lt 2 ]; then
  echo "skipped: the 32-bit packages and the two bitnesses together were not tried (see above)"
  exit 77
fi
