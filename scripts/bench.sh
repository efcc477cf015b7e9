#!/usr/bin/env bash
# Runs the benchmark of the store under Wine and prints its table: the 32-bit store where the host
# runs 32-bit programs natively, the 64-bit one otherwise.
# Usage: scripts/bench.sh [max profiles, default 10000]
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
detect_i686_mode
arch=x86_64
[ "$KS_I686_MODE" = native ] && arch=i686
echo "== benchmark of the $arch store (i686 mode $KS_I686_MODE, because $KS_I686_WHY)"
configure_and_build $arch Registry ksbench
ensure_wineprefix
cd "$build/$arch/bin"
winrun $arch ksbench.exe "${1:-10000}"
# The prefix's server runs persistent (wine.sh --prefix starts it so for the tests): stop it, which
# saves the registry, rather than wait for it.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w
