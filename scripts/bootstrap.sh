#!/usr/bin/env bash
# Installs the cross toolchain and Wine from Debian packages on a fresh Debian 12 machine.
# Idempotent: packages already present are not fetched again.
set -u
pkgs=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 wine32:i386
      libgstreamer-plugins-base1.0-0:i386 libwine-dev ninja-build googletest cmake g++ clang-14 libclang-rt-14-dev)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO dpkg --add-architecture i386
# An i386 index was seen failing with "File has unexpected size"; the rest of the indexes still serve.
for i in 1 2 3; do $SUDO apt-get update -q && break; sleep 5; done
ok=0
for i in 1 2 3 4; do
  if $SUDO apt-get install -y -q -t bookworm --no-install-recommends "${missing[@]}"; then ok=1; break; fi
  echo "bootstrap: install attempt $i failed; retrying"
  sleep $((i * 5))
  $SUDO apt-get update -q || true
done
[ $ok -eq 1 ] || { echo "bootstrap: could not install packages" >&2; exit 1; }
echo "bootstrap: done"
