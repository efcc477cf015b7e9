#!/usr/bin/env bash
# Lets a host whose kernel cannot execute 32-bit programs run them under qemu's user-mode emulator,
# through binfmt_misc (needs root). Usage: emulate32.sh on|off
#   on   registers qemu-i386-static for i386 ELF programs (flag F: the emulator is opened now, so it
#        also serves Wine's own children); exits 1 with the reason where that cannot be done
#   off  removes the registration, so detection and later runs see the host as it was
set -u
entry=ks-qemu-i386
dir=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386-static
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

case "${1:-}" in
  on)
    [ "$(id -u)" -eq 0 ] || { echo "the emulator is registered through binfmt_misc, which needs root"; exit 1; }
    [ -x "$qemu" ] || { echo "$qemu is missing (Debian package qemu-user-static)"; exit 1; }
    [ -e "$dir/register" ] || mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null ||
      { echo "binfmt_misc cannot be mounted on this host"; exit 1; }
    [ -e "$dir/$entry" ] && echo -1 >"$dir/$entry"
    printf ':%s:M::%s:%s:%s:F\n' "$entry" "$magic" "$mask" "$qemu" >"$dir/register" 2>/dev/null ||
      { echo "binfmt_misc refused the emulator's registration"; exit 1; }
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
      { echo -1 >"$dir/$entry"; echo "the 32-bit Wine loader does not start under the emulator"; exit 1; } ;;
  off)
    if [ -e "$dir/$entry" ]; then echo -1 >"$dir/$entry"; fi ;;
  *)
    echo "usage: emulate32.sh on|off" >&2
    exit 2 ;;
esac
exit 0
