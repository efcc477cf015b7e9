#!/usr/bin/env bash
# The main job: build the store, register it in the private Wine prefix, install the sample
# scanner's profiles beside it, and run the store's client against it. The 32-bit DLL (the
# shipping target) runs where the host runs 32-bit programs natively, the 64-bit one otherwise.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
detect_i686_mode
if [ "$KS_I686_MODE" = native ]; then
  arch=i686
  echo "== running the 32-bit (i686) store: i686 mode native, because $KS_I686_WHY"
else
  arch=x86_64
  echo "== running the 64-bit (x86_64) store: i686 mode $KS_I686_MODE, because $KS_I686_WHY"
fi
configure_and_build $arch Registry ksconfig
ensure_wineprefix
bin=$build/$arch/bin
mkdir -p "$bin/Profiles"
cp "$root"/samples/Profiles/* "$bin/Profiles/"
cd "$bin"
echo "== regsvr32 /s Registry.dll"
winrun $arch regsvr32 /s Registry.dll || echo "(registration failed; ksconfig falls back to loading Registry.dll itself)"
echo "== ksconfig demo"
winrun $arch ksconfig.exe demo
echo
echo "== ksconfig scanners"
winrun $arch ksconfig.exe scanners
echo
echo "== ksconfig profiles \"Sample Scanner\""
winrun $arch ksconfig.exe profiles "Sample Scanner"
# The prefix's server runs persistent (wine.sh --prefix starts it so for the tests): stop it, which
# saves the registry, rather than wait for it.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w
