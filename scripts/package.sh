#!/usr/bin/env bash
# Builds both bitnesses and every shipping artefact from them:
#   build/<arch>/package/KeystrelRegistry-<version>-<arch>.msi  the Windows Installer package of each bitness
#   build/sdk/KeystrelRegistrySDK/                              the client SDK (cmake --install of both builds)
#   build/x86_64/package/KeystrelRegistrySDK-<version>.zip      the same SDK as a ZIP (cpack)
# The WiX fragment for the utility's own installer is in the SDK, share/KeystrelRegistry/wix.
set -euo pipefail
source "$(dirname "$0")/common.sh"
# What ships is built without the test builds' runtime checks.
export KS_RUNTIME_CHECKS=OFF
"$root/scripts/bootstrap.sh"
for arch in i686 x86_64; do configure_and_build "$arch"; done

sdk=$build/sdk/KeystrelRegistrySDK
rm -rf "$sdk"
for arch in i686 x86_64; do
  cmake --install "$build/$arch" --prefix "$sdk" >"$build/sdk-install-$arch.log"
done
(cd "$build/x86_64" && cpack --config CPackConfig.cmake >"$build/cpack.log") || { cat "$build/cpack.log"; exit 1; }

echo "== packages:"
ls -1 "$build"/i686/package/*.msi "$build"/x86_64/package/*.msi "$build"/x86_64/package/*.zip
echo "== SDK: $sdk"
