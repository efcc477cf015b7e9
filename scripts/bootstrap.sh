#!/usr/bin/env bash
# Installs the cross toolchain and Wine from Debian packages on a fresh Debian 12 machine.
# Idempotent: packages already present are not fetched again.
# Usage: bootstrap.sh            the toolchain, Wine and the test tools
#        bootstrap.sh --emulator qemu's user-mode emulator, for hosts that cannot run 32-bit programs
set -u
pkgs=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 wine32:i386
      libgstreamer-plugins-base1.0-0:i386 libwine-dev ninja-build googletest cmake g++ clang-14 libclang-rt-14-dev
      clang-tidy-14 lld-14
      wixl msitools osslsigncode openssl faketime)
[ "${1:-}" = --emulator ] && pkgs=(qemu-user-static)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  [ "${1:-}" = --emulator ] || echo "bootstrap: all packages present"
  exit 0
fi
log=${TMPDIR:-/tmp}/ks-bootstrap.log
echo "bootstrap: installing ${missing[*]} (a few minutes on a fresh machine; apt's output: $log)"
export DEBIAN_FRONTEND=noninteractive
SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO dpkg --add-architecture i386
# An i386 index was seen failing with "File has unexpected size"; the rest of the indexes still serve.
for i in 1 2 3; do $SUDO apt-get update -q >>"$log" 2>&1 && break; sleep 5; done
ok=0
for i in 1 2 3 4; do
  # apt's own lines go to the log; the terminal gets a line per 50 of them.
  if $SUDO apt-get install -y -q -t bookworm --no-install-recommends "${missing[@]}" 2>&1 | tee -a "$log" |
       awk '/^Setting up/ { if (++n % 50 == 0) { print "bootstrap: " n " packages set up"; fflush() } }'
     [ "${PIPESTATUS[0]}" -eq 0 ]; then ok=1; break; fi
  echo "bootstrap: install attempt $i failed; retrying"
  sleep $((i * 5))
  $SUDO apt-get update -q >>"$log" 2>&1 || true
done
[ $ok -eq 1 ] || { tail -n 30 "$log"; echo "bootstrap: could not install packages" >&2; exit 1; }
echo "bootstrap: done"
