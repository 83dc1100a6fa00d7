#!/bin/sh
# Builds the windows-x64 preset and runs the Wine smoke driver against its
# vask.dll: the plug-in's real Win32 mailslot code under wine64.
#
#   tools/run-wine-smoke.sh            build build/windows-x64, run it
#   tools/run-wine-smoke.sh BUILDDIR   run the driver of an existing build
#                                      (windows-x64, or windows-i686 on wine32)
#
# The Wine prefix is a fresh temporary folder, removed afterwards. The run is
# bounded by VASK_WINE_TIMEOUT seconds (default 300; creating a prefix takes
# most of it on a slow machine).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  cd "$root"
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 --target wine_smoke vask
  build=$root/build/windows-x64
fi

for f in wine_smoke.exe vask.dll; do
  [ -f "$build/$f" ] || { echo "run-wine-smoke: $build/$f is missing" >&2; exit 1; }
done

# A 32-bit build (build/windows-i686) runs too, on wine's 32-bit loader
# (Debian's wine32:i386).
if x86_64-w64-mingw32-objdump -f "$build/wine_smoke.exe" 2>/dev/null | grep -q "pei-i386"; then
  candidates="wine"
else
  candidates="wine64 /usr/lib/wine/wine64 wine"
fi
wine=""
for candidate in $candidates; do
  if command -v "$candidate" >/dev/null 2>&1; then wine=$candidate; break; fi
done
[ -n "$wine" ] || { echo "run-wine-smoke: wine ($candidates) is not installed" >&2; exit 1; }

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vask-wine.XXXXXX")
cleanup() {
  for server in wineserver /usr/lib/wine/wineserver64; do
    if command -v "$server" >/dev/null 2>&1; then
      WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1 || true
      break
    fi
  done
  rm -rf "$prefix"
}
trap cleanup EXIT INT TERM

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No desktop, no Mono or Gecko installers while the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

timeout "${VASK_WINE_TIMEOUT:-300}" "$wine" wineboot --init >/dev/null 2>&1 || true
status=0
timeout "${VASK_WINE_TIMEOUT:-300}" "$wine" "$build/wine_smoke.exe" "$(printf 'Z:%s\\vask.dll' "$build" | tr / '\\')" || status=$?
if [ "$status" -eq 124 ]; then
  echo "run-wine-smoke: timed out" >&2
fi
exit "$status"
