#!/usr/bin/env bash
# The main job: build the 32-bit store and run its client against it under Wine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
configure_and_build i686 >/dev/null
ensure_wineprefix
cd "$build/i686/bin"
wine ksconfig.exe demo
/usr/lib/wine/wineserver -w
