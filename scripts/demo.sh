#!/usr/bin/env bash
# The main job: build the 32-bit store, register it in the private Wine prefix, install the
# sample scanner's profiles beside it, and run the store's client against it.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
configure_and_build i686 >/dev/null
ensure_wineprefix
bin=$build/i686/bin
mkdir -p "$bin/Profiles"
cp "$root"/samples/Profiles/* "$bin/Profiles/"
cd "$bin"
echo "== regsvr32 /s Registry.dll"
wine regsvr32 /s Registry.dll || echo "(registration failed; ksconfig falls back to loading Registry.dll itself)"
echo "== ksconfig demo"
wine ksconfig.exe demo
echo
echo "== ksconfig scanners"
wine ksconfig.exe scanners
echo
echo "== ksconfig profiles \"Sample Scanner\""
wine ksconfig.exe profiles "Sample Scanner"
/usr/lib/wine/wineserver -w
