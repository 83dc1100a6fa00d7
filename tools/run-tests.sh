#!/usr/bin/env bash
# Every test of the Linux builds: installs what is missing, then configures,
# builds and tests the linux (x86-64) and linux-i386 presets. Exits non-zero
# on the first failure. Build folders: build/<preset>.
#   tools/run-tests.sh [preset...]     (default: linux linux-i386)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh" tests

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(linux linux-i386)
fi
# The i386 leg needs the i386 libraries, which a package mirror missing its
# i386 index cannot give: then it is skipped with its reason, and the
# 32-bit layouts stay checked by the windows-i686 build's static asserts.
skipped_i386=
case " ${presets[*]} " in
  *" linux-i386 "*)
    if ! i386_log=$("$root/tools/install-deps.sh" i386 2>&1); then
      skipped_i386=$(grep 'cannot install' <<<"$i386_log" | sed 's/^install-deps: //' | paste -sd ';' -)
      echo "$i386_log" | tail -n 5
      skipped_i386=${skipped_i386:-install-deps.sh i386 failed}
    fi ;;
esac

# True when this machine hands 32-bit programs to qemu-i386 instead of
# running them itself (binfmt_misc).
emulated_i386() {
  local handler=/proc/sys/fs/binfmt_misc/qemu-i386
  [ -r "$handler" ] && head -1 "$handler" | grep -qx enabled
}

ran=()
for preset in "${presets[@]}"; do
  if [ "$preset" = linux-i386 ] && [ -n "$skipped_i386" ]; then
    echo "== $preset: skipped: the i386 packages could not be installed ($skipped_i386)"
    continue
  fi
  ran+=("$preset")
  echo "== $preset: configure"
  cmake --preset "$preset"
  echo "== $preset: build"
  cmake --build --preset "$preset"
  echo "== $preset: test"
  if [ "$preset" = linux-i386 ] && ! "$root/tools/enable-i386.sh"; then
    echo "== $preset: built; its tests cannot run: this machine runs no 32-bit programs"
  elif [ "$preset" = linux-i386 ] && emulated_i386; then
    # Under qemu's user-mode emulation threads, signals and AF_UNIX sockets
    # do not behave as on a kernel that runs i386 code itself, so the suites
    # that need them fail whatever the code does. What the 32-bit build is
    # for, the exact record layouts, the codecs and the text helpers, runs.
    echo "== $preset: 32-bit programs run under qemu-i386 here; only the suites that need no threads or slots run"
    "build/$preset/tests/unit_tests" --gtest_brief=1 --gtest_filter='-MailslotHandleTest.*'
    "build/$preset/tests/bridge_tests" --gtest_brief=1 \
      --gtest_filter='-BridgeClientTest.*:LanFolderTest.*'
  else
    ctest --preset "$preset"
  fi
done
echo "== all tests passed: ${ran[*]}"
if [ -n "$skipped_i386" ]; then
  echo "== linux-i386 skipped: its packages could not be installed ($skipped_i386)"
fi
