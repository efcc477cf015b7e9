#!/usr/bin/env bash
# Builds both bitnesses for release and every shipping artefact from them:
#   build/release/<arch>/package/KeystrelRegistry-<version>-<arch>.msi  the Windows Installer package of each bitness
#   build/release/sdk/KeystrelRegistrySDK/                              the client SDK (cmake --install of both builds)
#   build/release/x86_64/package/KeystrelRegistrySDK-<version>.zip      the same SDK as a ZIP (cpack)
# The WiX fragment for the utility's own installer is in the SDK, share/KeystrelRegistry/wix.
#
# Release builds have folders of their own, configured with the test builds' runtime checks off,
# and build only what ships (no tests). Registry.dll, ksconfig.exe and the packages are signed with
# the certificate that the environment names, or with a test certificate (scripts/sign.sh; README,
# "Signing a release"); at the end every signature is verified and every binary checked.
set -euo pipefail
source "$(dirname "$0")/common.sh"
# What ships is built without the test builds' runtime checks.
export KS_RUNTIME_CHECKS=OFF
"$root/scripts/bootstrap.sh"
release=$build/release

for arch in i686 x86_64; do
  dir=$release/$arch
  mkdir -p "$dir"
  echo "== configuring release-$arch"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_WERROR=ON -DKS_RUNTIME_CHECKS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" >"$build/release-$arch.log" 2>&1 ||
    { cat "$build/release-$arch.log"; echo "== configuring release-$arch failed"; exit 1; }
  echo "== building release-$arch"
  build_with_progress "release-$arch" "$dir" msi shipped ks_guids wix_entries
done

sdk=$release/sdk/KeystrelRegistrySDK
rm -rf "$sdk"
for arch in i686 x86_64; do
  cmake --install "$release/$arch" --prefix "$sdk" >"$build/sdk-install-$arch.log"
done
(cd "$release/x86_64" && cpack --config CPackConfig.cmake >"$build/cpack.log") || { cat "$build/cpack.log"; exit 1; }

echo "== checking what ships"
status=0
for arch in i686 x86_64; do
  package=$release/$arch/package
  "$root/scripts/sign.sh" verify "$package/signing" "$package"/bin/*.dll "$package"/bin/*.exe "$package"/*.msi || status=1
  for binary in "$package"/bin/*.dll "$package"/bin/*.exe; do
    "$root/scripts/check_dll.sh" --checksum "$arch-w64-mingw32-objdump" "$binary" || status=1
  done
done
signer=$(openssl x509 -in "$release/x86_64/package/signing/cert.pem" -noout -subject | sed 's/^subject=//')
echo "   signed by: $signer${KS_SIGN_TIMESTAMP:+, time-stamped by $KS_SIGN_TIMESTAMP}"
[ -n "${KS_SIGN_PKCS12:-}${KS_SIGN_CERT:-}" ] ||
  echo "   a TEST certificate: not for release (KS_SIGN_PKCS12 or KS_SIGN_CERT/KS_SIGN_KEY name the real one)"
[ $status -eq 0 ] || { echo "== what ships failed its checks"; exit 1; }

echo "== packages:"
ls -1 "$release"/i686/package/*.msi "$release"/x86_64/package/*.msi "$release"/x86_64/package/*.zip
echo "== SDK: $sdk"
