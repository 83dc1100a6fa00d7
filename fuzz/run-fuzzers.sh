#!/usr/bin/env bash
# Builds every fuzz target of the plug-in with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer (clang 14) and runs each for a bounded time.
#
#   fuzz/run-fuzzers.sh [seconds]     default 60 per target; 0 only builds
#
# Fails when a target does not build or a run finds a crash (the input is
# left as build-fuzz/<target>-crash-*). Binaries and the objects land in
# build-fuzz/; new inputs go to build-fuzz/<target>_corpus, the checked-in
# seeds in fuzz/corpus/<target> stay as they are. The bridge's own target
# runs too, through fuzz/bridge_fuzz.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz
CXX=${CXX_FUZZ:-clang++-14}
jobs=${FUZZ_JOBS:-2}
mkdir -p "$out/obj"

flags=(-std=c++20 -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -Wall -Wextra -Werror -I"$root" -I"$root/platform/posix/include"
       -I"$root/platform/include")

# The plug-in's texts are Windows-1250 bytes, as in the product. clang 14
# knows no other execution character set than UTF-8, so the plug-in's tree
# is copied converted to Windows-1250 (build-fuzz/cp1250, searched before the
# tree itself) and compiled as it stands: its literals keep those bytes.
# The source lists are the build's own (cmake/*_sources.txt, and the
# test-support library's tests/support/sources.txt: the fuzz targets' host
# is the tests' fake control object).
read_list() { grep -v '^\s*\(#\|$\)' "$root/$1"; }
mapfile -t plugin_sources < <(read_list cmake/plugin_sources.txt; echo shell/plugin_entry.cpp)
mapfile -t platform_sources < <(read_list cmake/platform_sources.txt)
mapfile -t support_sources < <(read_list tests/support/sources.txt)
targets=(datagram_fuzz numbers_fuzz receive_fuzz host_fuzz frame_fuzz)

object() { echo "$out/obj/$(echo "$1" | tr / _).o"; }

mirror=$out/cp1250
shopt -s nullglob  # abi/ has headers only
for dir in abi base shell transport protocol search; do
  mkdir -p "$mirror/$dir"
  for f in "$root/$dir"/*.h "$root/$dir"/*.cpp; do
    to=$mirror/$dir/$(basename "$f")
    if [ ! -f "$to" ] || [ "$f" -nt "$to" ]; then
      iconv -f UTF-8 -t CP1250 "$f" > "$to.tmp" && mv "$to.tmp" "$to"
    fi
  done
done

# Compiles one source unless its object is newer than the source and every
# header of the tree.
compile() {
  local src=$1 base=$2 obj
  obj=$(object "$src")
  if [ -f "$obj" ] && [ -z "$(find "$base/$src" "$root"/{abi,base,shell,transport,protocol,search,platform} \
        "$root/tests/support" -name '*.h' -newer "$obj" -o -path "$base/$src" -newer "$obj" | head -1)" ]; then
    return 0
  fi
  "$CXX" -I"$mirror" "${flags[@]}" -Wno-invalid-source-encoding -fsanitize=fuzzer-no-link \
    -I"$root/platform/posix/src" -c "$base/$src" -o "$obj"
}
export -f compile object
export root out CXX mirror
export flags_text="${flags[*]}"

{
  for s in "${plugin_sources[@]}"; do printf '%s\0%s\0' "$s" "$mirror"; done
  for s in "${platform_sources[@]}" "${support_sources[@]}"; do printf '%s\0%s\0' "$s" "$root"; done
} | xargs -0 -n2 -P"$jobs" bash -c 'flags=($flags_text); compile "$1" "$2"' _

objects=()
for s in "${plugin_sources[@]}" "${platform_sources[@]}" "${support_sources[@]}"; do
  objects+=("$(object "$s")")
done

for t in "${targets[@]}"; do
  "$CXX" -I"$mirror" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/$t.cpp" "${objects[@]}" \
    -lpthread -ldl -o "$out/$t"
done

if [ "$seconds" = 0 ]; then
  "$root/fuzz/bridge_fuzz.sh" 0
  exit 0
fi

failed=0
for t in "${targets[@]}"; do
  mkdir -p "$out/${t}_corpus"
  seeds=()
  [ -d "$root/fuzz/corpus/${t%_fuzz}" ] && seeds=("$root/fuzz/corpus/${t%_fuzz}")
  echo "== $t: ${seconds}s"
  if ! "$out/$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$out/$t-" "$out/${t}_corpus" "${seeds[@]}"; then
    echo "run-fuzzers: $t failed" >&2
    failed=1
  fi
done
echo "== bridge_fuzz: ${seconds}s"
"$root/fuzz/bridge_fuzz.sh" "$seconds" || { echo "run-fuzzers: bridge_fuzz failed" >&2; failed=1; }
exit "$failed"
