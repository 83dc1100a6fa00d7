#!/bin/sh
# Checks the Windows product without running it: vask.dll is a 32-bit DLL
# that exports the undecorated IMessageProc and nothing else, imports only
# the functions of Windows 7's own libraries that tools/dll-imports.txt
# lists (the C++ runtime, libgcc and winpthread are linked in), carries its
# nine icon groups, and its machine code keeps the host's calling
# conventions and catch-alls (tools/check-dll-code.py).
#
#   tools/check-dll.sh              build the windows-i686 preset, check its DLL
#   tools/check-dll.sh path/to.dll  check that DLL only
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres

if [ $# -ge 1 ]; then
  dll=$1
else
  cd "$root"
  cmake --preset windows-i686 >/dev/null
  cmake --build --preset windows-i686
  dll=$root/build/windows-i686/vask.dll
fi

fail() {
  echo "check-dll: $dll: $*" >&2
  exit 1
}

[ -f "$dll" ] || fail "no such file"
dump=$($objdump -p "$dll") || fail "objdump cannot read it"

echo "$dump" | grep -q "file format pei-i386" || fail "not a 32-bit (i386) PE image"
echo "$dump" | grep -q "^Characteristics .*DLL\|	DLL$" || fail "not a DLL"

# The named exports: the lines after "[Ordinal/Name Pointer] Table" up to
# the first blank line.
exports=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p')
count=$(echo "$dump" | sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' | head -n 1)
[ "$exports" = "IMessageProc" ] || fail "exports are [$(echo $exports)], want exactly IMessageProc"
[ "$count" = "00000001" ] || fail "export address table has $count entries, want 1"

# Imports: Windows 7's own libraries, function by function as
# tools/dll-imports.txt lists them. No Universal CRT (api-ms-win-*,
# ucrtbase): Windows 7 lacks it; no libgcc, libstdc++ or winpthread DLL:
# they are linked in.
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || fail "no imports at all (not a real build?)"
for name in $imports; do
  upper=$(echo "$name" | tr '[:lower:]' '[:upper:]')
  case "$upper" in
    KERNEL32.DLL|USER32.DLL|SHELL32.DLL|MPR.DLL|WS2_32.DLL|MSVCRT.DLL) ;;
    API-MS-WIN-*|UCRTBASE.DLL) fail "imports $name: the Universal CRT, which Windows 7 lacks" ;;
    LIBGCC*|LIBSTDC++*|LIBWINPTHREAD*) fail "imports $name: the compiler's runtime must be linked in" ;;
    *) fail "imports $name, which is not among KERNEL32, USER32, SHELL32, MPR, WS2_32 and msvcrt" ;;
  esac
done
functions=$(echo "$dump" | awk '
  /^[[:space:]]*DLL Name:/ { dll = toupper($3) }
  /^There is an export table|^The Export Tables/ { dll = "" }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]/ { print dll, $3 }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ *$/ { print dll, "#" $2 }')
[ -n "$functions" ] || fail "no imported functions read from the import tables"
unlisted=$(echo "$functions" | grep -vxF -f "$root/tools/dll-imports.txt" || true)
[ -z "$unlisted" ] || fail "imports functions tools/dll-imports.txt does not list (check that Windows 7 has them): $(echo $unlisted)"

# Resources: the icon groups the plug-in registers and the settings picture.
groups=$($windres -J coff -O rc -i "$dll" 2>/dev/null | sed -n 's/^\([0-9]*\) 14 .*RT_GROUP_ICON.*/\1/p' | tr '\n' ' ')
[ "$groups" = "101 102 103 104 105 110 111 120 121 " ] || fail "icon groups are [$groups], want 101-105, 110, 111, 120, 121"

# The machine code: IMessageProc's ret 4 and catch-all, the standard calls
# through the control object, the thread routines' catch-alls (the last
# two need the symbols: a stripped copy gets the first only).
code=$(python3 "$root/tools/check-dll-code.py" "$dll") || exit 1

echo "$code"
echo "check-dll: $dll: exports IMessageProc only; imports $(echo $imports); icon groups $groups"
