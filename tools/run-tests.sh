#!/usr/bin/env bash
# Every test of the Linux builds: installs what is missing, then configures,
# builds and tests the linux (x86-64) and linux-i386 presets. Exits non-zero
# on the first failure. Build folders: build/<preset>.
#   tools/run-tests.sh [preset...]     (default: linux linux-i386)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh"

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(linux linux-i386)
fi

for preset in "${presets[@]}"; do
  echo "== $preset: configure"
  cmake --preset "$preset"
  echo "== $preset: build"
  cmake --build --preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset"
done
echo "== all tests passed: ${presets[*]}"
