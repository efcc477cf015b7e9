#!/usr/bin/env bash
# The SDK as a client's build sees it: install this build into an empty prefix, build the sample
# client from that prefix alone, as its README says (its toolchain file, find_package), register the
# SDK's DLL, and run the client, which must be served by that DLL. The shipped binaries must be
# stripped, with debug links that find their symbols, and signed. Runs in the suite's Wine prefix (WINEPREFIX).
# With the build's PACKAGE.msi given, the SDK's WiX sources must also make the same package alone.
# Usage: sdk_test.sh ARCH BUILD_DIR WORK_DIR [PACKAGE.msi]
set -u -o pipefail
arch=$1 build=$2 work=$3 msi=${4:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=$root/scripts/wine.sh

"$wine" "$arch" --version >/dev/null
[ $? -eq 77 ] && { "$wine" "$arch" --version; exit 77; }
run() { "$wine" "$arch" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
die() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
sdk=$work/sdk
cmake --install "$build" --prefix "$sdk" >"$work.log" 2>&1 || { cat "$work.log"; die "cmake --install"; }
toolchain=share/KeystrelRegistry/toolchain-$arch.cmake
grep -qF -- "toolchain-$arch.cmake" "$sdk/README.md" || die "the SDK has no README that names its $toolchain"
cmake -S "$sdk/samples/client" -B "$work/client" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$sdk/$toolchain" -DCMAKE_PREFIX_PATH="$sdk" >"$work.log" 2>&1 ||
  { cat "$work.log"; die "configuring the sample client against the SDK"; }
cmake --build "$work/client" >"$work.log" 2>&1 || { cat "$work.log"; die "building the sample client"; }
grep -q -- "$sdk/include" "$work/client/build.ninja" || die "the client did not take its header from the SDK"
grep -q -- "$sdk/lib/$arch/libks_guids.a" "$work/client/build.ninja" || die "the client did not link the SDK's GUIDs"
grep -qE -- "$build/(generated|libks_guids)|$root/(cmake|include|src|samples)/" "$work/client/build.ninja" \
  "$work/client/CMakeCache.txt" && die "the client's build used the source or build tree"

# Stripped binaries, each with a debug link that a debugger follows: the name of the file beside
# it and that file's CRC-32 (gzip's trailer holds the same checksum), which holds the symbols.
for binary in Registry.dll ksconfig.exe; do
  file=$sdk/bin/$arch/$binary
  "$arch-w64-mingw32-objdump" -h "$file" | grep -q ' \.debug_' && die "$binary ships with its debug information"
  "$arch-w64-mingw32-objcopy" --dump-section .gnu_debuglink="$work/link" "$file" "$work/copy" 2>/dev/null ||
    die "$binary has no debug link"
  [ "$(head -c -4 "$work/link" | tr -d '\0')" = "$binary.debug" ] || die "the debug link of $binary names another file"
  [ "$(tail -c 4 "$work/link" | od -An -tx4)" = "$(gzip -c "$file.debug" | tail -c 8 | head -c 4 | od -An -tx4)" ] ||
    die "$binary.debug is not the file that the debug link of $binary was made for"
  [ "$("$arch-w64-mingw32-objdump" -t "$file.debug" | grep -c '(sec  *[0-9]')" -gt 0 ] || die "$binary.debug holds no symbols"
done

"$root/scripts/sign.sh" verify "$build/package/signing" "$sdk/bin/$arch/Registry.dll" "$sdk/bin/$arch/ksconfig.exe" ||
  die "the SDK's binaries are not signed with the build's certificate"

if [ -n "$msi" ]; then
  [ "$arch" = x86_64 ] && win64=(-a x64 -D Win64=yes) || win64=(-a x86 -D Win64=no)
  wix=share/KeystrelRegistry/wix
  version=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
  (cd "$sdk" && wixl "${win64[@]}" -D KsVersion="$version" -D KsBinDir="bin/$arch" -D KsProfilesDir=samples/Profiles -I $wix \
     -o "$work/from-sdk.msi" $wix/Registry.wxs $wix/KeystrelRegistry.wxs) >"$work.log" 2>&1 ||
    { cat "$work.log"; die "wixl with the SDK's WiX sources"; }
  # One version: the package's, the SDK's CMake package's.
  grep -qF "set(PACKAGE_VERSION \"$version\")" "$sdk/lib/cmake/KeystrelRegistry/KeystrelRegistryConfigVersion.cmake" ||
    die "the SDK's package version is not the package's $version"
  for table in Directory Component File Registry; do
    diff <(msiinfo export "$work/from-sdk.msi" $table) <(msiinfo export "$msi" $table) >/dev/null ||
      die "the SDK's WiX sources make a different $table table than the build's package"
  done
fi

dll=$(run winepath -w "$sdk/bin/$arch/Registry.dll")
run regsvr32 /s "$dll" >/dev/null || die "regsvr32 $dll"
served=$(run "$work/client/ksclient.exe")
status=$?
run regsvr32 /u /s "$dll" >/dev/null || die "regsvr32 /u $dll"
[ $status -eq 0 ] || die "the client failed: $served"
folder=${dll%\\Registry.dll}
[ "${served,,}" = "${folder,,}" ] || die "the client was served from '$served', not the SDK's '$folder'"
echo "SDK $arch: the sample client built from the installed SDK created the class and made a call"
if [ -z "$msi" ]; then
  echo "skipped: no package of this build (wixl was not found), so the SDK's WiX sources were not tried"
  exit 77
fi
