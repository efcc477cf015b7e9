#!/usr/bin/env bash
# Two clean builds of one commit give the same shipped binaries: the commit is exported twice, into
# folders of different names and depths, each is configured as scripts/package.sh configures a
# release and builds the stripped Registry.dll and ksconfig.exe with their debug files (both
# bitnesses), the second in another time zone; every file must be identical. The signatures are
# left out: each signing run makes a new one. About four times the build of the two targets.
# Usage: scripts/reproduce.sh [commit, default HEAD]
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/bootstrap.sh"
commit=$(git -C "$root" rev-parse --verify "${1:-HEAD}^{commit}")
work=$build/reproduce
rm -rf "$work"
trees=("$work/a" "$work/second-build/of/$commit")
zones=(UTC America/Los_Angeles)

for i in 0 1; do
  tree=${trees[$i]}
  mkdir -p "$tree/src"
  git -C "$root" archive "$commit" | tar -x -C "$tree/src"
  for arch in i686 x86_64; do
    echo "== build $((i + 1)) of $commit, $arch (TZ=${zones[$i]})"
    TZ=${zones[$i]} cmake -S "$tree/src" -B "$tree/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_WERROR=ON \
      -DKS_RUNTIME_CHECKS=OFF -DCMAKE_TOOLCHAIN_FILE="$tree/src/cmake/toolchain-$arch.cmake" \
      >"$work/build$i-$arch.log" 2>&1 &&
      TZ=${zones[$i]} cmake --build "$tree/$arch" -j "$jobs" --target stripped >>"$work/build$i-$arch.log" 2>&1 ||
      { tail -n 30 "$work/build$i-$arch.log"; echo "== build failed (log: $work/build$i-$arch.log)"; exit 1; }
  done
done

status=0
for arch in i686 x86_64; do
  for file in stripped/Registry.dll stripped/ksconfig.exe bin/Registry.dll.debug bin/ksconfig.exe.debug; do
    a=${trees[0]}/$arch/package/$file b=${trees[1]}/$arch/package/$file
    if cmp -s "$a" "$b"; then
      echo "   same: $arch $file ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16))"
    else
      echo "   DIFFERENT: $arch $file ($(cmp -l "$a" "$b" 2>/dev/null | wc -l) bytes differ)"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "== reproducible: two builds of $commit give identical binaries" && rm -rf "$work"
exit $status
