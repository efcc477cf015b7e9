#!/usr/bin/env bash
# Runs the benchmark of the 32-bit store under Wine and prints its table.
# Usage: scripts/bench.sh [max profiles, default 10000]
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
configure_and_build i686 >/dev/null
ensure_wineprefix
cd "$build/i686/bin"
wine ksbench.exe "${1:-10000}"
/usr/lib/wine/wineserver -w
