#!/usr/bin/env bash
# Builds and runs the bridge's fuzz target with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer (clang 14).
#
#   fuzz/bridge_fuzz.sh [seconds]     default 60; 0 only builds
#
# The binary lands in build-fuzz/bridge_fuzz; new inputs found go to
# build-fuzz/bridge_corpus, the checked-in seeds stay as they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz
CXX=${CXX_FUZZ:-clang++-14}
mkdir -p "$out/bridge_corpus"
"$CXX" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" -Wall -Wextra -Werror \
  "$root/fuzz/bridge_fuzz.cpp" "$root/bridge/netbios_name.cpp" "$root/bridge/mailslot_datagram.cpp" \
  "$root/bridge/name_packet.cpp" "$root/bridge/bridge_core.cpp" -o "$out/bridge_fuzz"
if [ "$seconds" != 0 ]; then
  "$out/bridge_fuzz" -max_total_time="$seconds" -max_len=1500 "$out/bridge_corpus" "$root/fuzz/corpus/bridge"
fi
