#!/usr/bin/env bash
# Builds and runs the bridge's fuzz targets with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer (clang 14): bridge_fuzz (the packet parsers
# and the receive path) and bridge_status_fuzz (node status requests and
# answers).
#
#   fuzz/bridge_fuzz.sh [seconds]     default 60 per target; 0 only builds
#
# The binaries land in build-fuzz/; new inputs found go to
# build-fuzz/<target>_corpus, the checked-in seeds stay as they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz
CXX=${CXX_FUZZ:-clang++-14}
sources=()
for s in netbios_name mailslot_datagram name_packet node_status browse_frame oem_text drop_log frame_codec \
  frame_relay bridge_core; do
  sources+=("$root/bridge/$s.cpp")
done
mkdir -p "$out"
failed=0
for target in bridge_fuzz bridge_status_fuzz; do
  "$CXX" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" -I"$root/platform/posix/include" -Wall -Wextra -Werror \
    "$root/fuzz/$target.cpp" "${sources[@]}" \
    -o "$out/$target"
done
if [ "$seconds" != 0 ]; then
  for target in bridge_fuzz bridge_status_fuzz; do
    corpus=$out/${target%_fuzz}_corpus
    mkdir -p "$corpus"
    echo "== $target: ${seconds}s"
    "$out/$target" -max_total_time="$seconds" -max_len=1500 -artifact_prefix="$out/$target-" \
      "$corpus" "$root/fuzz/corpus/${target%_fuzz}" || failed=1
  done
fi
exit "$failed"
