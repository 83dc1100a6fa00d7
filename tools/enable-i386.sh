#!/bin/sh
# Makes 32-bit x86 Linux programs (the linux-i386 tests, 32-bit Wine) run on
# a machine whose kernel does not run them itself: some virtual machines
# run 64-bit user code only (execve of an i386 program fails with "Exec
# format error"). There the kernel is told to start them through
# qemu-i386-static (Debian's qemu-user-static), an emulator: slower, but
# the same programs. Needs root for that; does nothing where i386 programs
# already run.
#
#   tools/enable-i386.sh      exit 0 when i386 programs run afterwards
set -eu

probe=/usr/lib/wine/wine  # any i386 program of Debian's will do
[ -x "$probe" ] || probe=$(ls /usr/lib/i386-linux-gnu/ld-linux.so.2 /lib/ld-linux.so.2 2>/dev/null | head -n 1)
runs() {
  # The dynamic loader and wine both print their usage and exit when run
  # with --version / --help; "Exec format error" is status 126.
  "$probe" --version >/dev/null 2>&1 || [ $? -ne 126 ]
}

[ -n "$probe" ] || { echo "enable-i386: no i386 program installed to test with" >&2; exit 1; }
runs && exit 0

qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || { echo "enable-i386: i386 programs do not run and $qemu is missing (qemu-user-static)" >&2; exit 1; }
misc=/proc/sys/fs/binfmt_misc
if [ ! -e "$misc/register" ]; then
  mount -t binfmt_misc binfmt_misc "$misc" || { echo "enable-i386: cannot mount $misc" >&2; exit 1; }
fi
if [ ! -e "$misc/qemu-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine i386.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':FP' \
    > "$misc/register" || { echo "enable-i386: cannot register $qemu" >&2; exit 1; }
fi
echo 1 > "$misc/qemu-i386" 2>/dev/null || true
runs || { echo "enable-i386: i386 programs still do not run" >&2; exit 1; }
echo "enable-i386: i386 programs run through $qemu (this kernel runs 64-bit user code only)"
