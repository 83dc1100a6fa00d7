#!/bin/sh
# Makes the Windows release: vask-<version>-win32.zip with
#   vask.dll         the 32-bit plug-in, stripped of its debug information
#   doc/Vask.html    the help, where the help button looks: the messenger's
#                    folder (its setting 3) followed by "doc/Vask.html"
#   windows.txt      docs/windows.md, the install and check guide, as text a
#                    stock Windows opens in Notepad: CRLF line ends and a
#                    UTF-8 byte order mark (Notepad before Windows 10 1903
#                    takes text without one for the ANSI code page)
# The version is the ProductVersion of resources/vask.rc. The stripped DLL
# is held to tools/check-dll.sh before it is packed.
#
#   tools/make-release.sh              build windows-i686, pack into build/release
#   tools/make-release.sh BUILDDIR [OUTDIR]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  cd "$root"
  cmake --preset windows-i686 >/dev/null
  cmake --build --preset windows-i686 --target vask
  build=$root/build/windows-i686
fi
out=${2:-$root/build/release}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^[[:space:]]*VALUE "ProductVersion", "\([^"]*\)".*/\1/p' "$root/resources/vask.rc")
[ -n "$version" ] || { echo "make-release: no ProductVersion in resources/vask.rc" >&2; exit 1; }
[ -f "$build/vask.dll" ] || { echo "make-release: $build/vask.dll is missing" >&2; exit 1; }

stage=$(mktemp -d "${TMPDIR:-/tmp}/vask-release.XXXXXX")
trap 'rm -rf "$stage"' EXIT INT TERM
mkdir -p "$stage/doc"
i686-w64-mingw32-strip --strip-all -o "$stage/vask.dll" "$build/vask.dll"
"$root/tools/check-dll.sh" "$stage/vask.dll" >/dev/null
cp "$root/doc/Vask.html" "$stage/doc/Vask.html"
python3 - "$root/docs/windows.md" "$stage/windows.txt" <<'PY'
import sys
text = open(sys.argv[1], encoding="utf-8").read().replace("\r\n", "\n")
with open(sys.argv[2], "wb") as f:
    f.write(b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8"))
PY
# What the users of the archive need to find in it: the help's network
# section (NetBIOS, firewall, error 3025 on every edition) and the guide's.
for f in doc/Vask.html windows.txt; do
  for want in NetBIOS 137 3025 Set-SmbClientConfiguration 'Lanman' \
      'Policies\Microsoft\Windows\NetworkProvider' 'Policies\Microsoft\Windows\Bowser' EnableMailslots; do
    grep -qF "$want" "$stage/$f" || { echo "make-release: $f says nothing of $want" >&2; exit 1; }
  done
done

zip="$out/vask-$version-win32.zip"
rm -f "$zip"
# Fixed dates and order, so the same files give the same archive.
python3 - "$stage" "$zip" <<'PY'
import os, sys, zipfile
stage, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for name in ["vask.dll", "doc/Vask.html", "windows.txt"]:
        info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(info, f.read())
PY
echo "make-release: $zip ($(wc -c < "$stage/vask.dll") bytes of vask.dll, from $(wc -c < "$build/vask.dll"))"
