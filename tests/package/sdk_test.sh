#!/usr/bin/env bash
# The SDK as a client's build sees it: install this build into an empty prefix, build the sample
# client from that prefix alone with find_package(KeystrelRegistry), register the SDK's DLL, and
# run the client, which must be served by that DLL. Runs in the suite's Wine prefix (WINEPREFIX).
# With the build's PACKAGE.msi given, the SDK's WiX sources must also make the same package alone.
# Usage: sdk_test.sh ARCH BUILD_DIR TOOLCHAIN_FILE WORK_DIR [PACKAGE.msi]
set -u -o pipefail
arch=$1 build=$2 toolchain=$3 work=$4 msi=${5:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=$root/scripts/wine.sh

"$wine" "$arch" --version >/dev/null
[ $? -eq 77 ] && { "$wine" "$arch" --version; exit 77; }
run() { "$wine" "$arch" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
die() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
sdk=$work/sdk
cmake --install "$build" --prefix "$sdk" >"$work.log" 2>&1 || { cat "$work.log"; die "cmake --install"; }
cmake -S "$sdk/samples/client" -B "$work/client" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$sdk" >"$work.log" 2>&1 ||
  { cat "$work.log"; die "configuring the sample client against the SDK"; }
cmake --build "$work/client" >"$work.log" 2>&1 || { cat "$work.log"; die "building the sample client"; }
grep -q -- "$sdk/include" "$work/client/build.ninja" || die "the client did not take its header from the SDK"
grep -q -- "$sdk/lib/$arch/libks_guids.a" "$work/client/build.ninja" || die "the client did not link the SDK's GUIDs"
grep -qE -- "$build/(generated|libks_guids)" "$work/client/build.ninja" && die "the client's build used the build tree"

if [ -n "$msi" ]; then
  [ "$arch" = x86_64 ] && win64=(-a x64 -D Win64=yes) || win64=(-a x86 -D Win64=no)
  wix=share/KeystrelRegistry/wix
  (cd "$sdk" && wixl "${win64[@]}" -D KsBinDir="bin/$arch" -D KsProfilesDir=samples/Profiles -I $wix \
     -o "$work/from-sdk.msi" $wix/Registry.wxs $wix/KeystrelRegistry.wxs) >"$work.log" 2>&1 ||
    { cat "$work.log"; die "wixl with the SDK's WiX sources"; }
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
