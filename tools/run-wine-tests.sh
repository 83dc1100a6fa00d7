#!/bin/sh
# Runs the Wine test host against the shipped 32-bit vask.dll under 32-bit
# Wine: one computer on Wine's own mailslots, then two copies of the DLL in
# one process joined by the test host's relay. Fails on any failed check.
#
#   tools/run-wine-tests.sh                build windows-i686, run both halves
#   tools/run-wine-tests.sh BUILDDIR       run the test host of an existing build
#   tools/run-wine-tests.sh --x64 [BUILDDIR]
#                                          the same for windows-x64 under wine64
#                                          (the 64-bit DLL: where no i386 code runs)
#
# The Wine prefix (WINEARCH=win32, or win64 with --x64) is made once and
# kept: $VASK_WINE_PREFIX, else ${XDG_CACHE_HOME:-$HOME/.cache}/vask/wine32
# (wine64). Each half is bounded by VASK_WINE_TIMEOUT seconds (default 300);
# making the prefix by VASK_WINE_BOOT_TIMEOUT (default 1800).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
arch=i686
if [ "${1:-}" = "--x64" ]; then
  arch=x64
  shift
fi
if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  cd "$root"
  cmake --preset "windows-$arch" >/dev/null
  cmake --build --preset "windows-$arch" --target vask wine_host
  build=$root/build/windows-$arch
fi
for f in wine_host.exe vask.dll; do
  [ -f "$build/$f" ] || { echo "run-wine-tests: $build/$f is missing" >&2; exit 1; }
done

command -v wine >/dev/null 2>&1 || { echo "run-wine-tests: wine is not installed (tools/install-deps.sh)" >&2; exit 1; }
if [ "$arch" = i686 ]; then
  # 32-bit Wine comes from the i386 archive, whose index a mirror in mid-sync
  # often cannot give; without it the 32-bit run is skipped with that reason
  # (the same tests ran against the 64-bit DLL under wine64 with --x64).
  if [ ! -x /usr/lib/wine/wine ]; then
    "$root/tools/install-deps.sh" wine32:i386 >&2 || true
    if [ ! -x /usr/lib/wine/wine ]; then
      echo "run-wine-tests: skipped: 32-bit Wine (wine32:i386) cannot be installed on this machine"
      exit 0
    fi
  fi
  # A kernel that runs no 32-bit x86 code at all (some virtual machines)
  # leaves only an emulator, under which Wine takes far too long to start;
  # there the 32-bit run is skipped unless VASK_WINE_EMULATED=1 asks for it.
  emulated=0
  /usr/lib/wine/wine --version >/dev/null 2>&1 || emulated=1
  # tools/enable-i386.sh registers the emulator only where the kernel
  # cannot run i386 programs itself.
  grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null && emulated=1
  if [ "$emulated" = 1 ] && [ "${VASK_WINE_EMULATED:-0}" != 1 ]; then
    echo "run-wine-tests: skipped: this kernel runs no 32-bit x86 code (VASK_WINE_EMULATED=1 tries qemu-user)"
    exit 0
  fi
  "$root/tools/enable-i386.sh"
  export WINEARCH=win32
  loader=wine
  prefix_name=wine32
else
  loader=/usr/lib/wine/wine64
  [ -x "$loader" ] || { echo "run-wine-tests: $loader is missing (wine64)" >&2; exit 1; }
  export WINEARCH=win64
  prefix_name=wine64
fi
export WINEPREFIX="${VASK_WINE_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vask/$prefix_name}"
export WINEDEBUG=-all
# No Mono or Gecko installers, no menu entries, no desktop window.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT INT TERM

if [ ! -f "$WINEPREFIX/.vask-ready" ]; then
  echo "run-wine-tests: making the 32-bit Wine prefix $WINEPREFIX (once)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  start=$(date +%s)
  timeout "${VASK_WINE_BOOT_TIMEOUT:-1800}" "$loader" wineboot --init >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  [ -f "$WINEPREFIX/system.reg" ] || { echo "run-wine-tests: wineboot made no prefix" >&2; exit 1; }
  touch "$WINEPREFIX/.vask-ready"
  echo "run-wine-tests: prefix made in $(( $(date +%s) - start )) s"
fi

dll=$(printf 'Z:%s\\vask.dll' "$build" | tr / '\\')
status=0
for half in --single --two; do
  start=$(date +%s)
  code=0
  timeout "${VASK_WINE_TIMEOUT:-300}" "$loader" "$build/wine_host.exe" "$half" "$dll" || code=$?
  [ "$code" -eq 124 ] && echo "run-wine-tests: wine_host $half timed out" >&2
  echo "run-wine-tests: wine_host $half ended with $code after $(( $(date +%s) - start )) s"
  [ "$code" -eq 0 ] || status=1
  # The next half starts its own wineserver: one still shutting down after
  # this half would take its connection and reset it.
  wineserver -w >/dev/null 2>&1 || true
done
exit "$status"
