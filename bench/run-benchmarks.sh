#!/usr/bin/env bash
# Runs every benchmark and writes its figures, each beside the baseline of
# the same run, into one folder (docs/performance.md tells what they mean).
#
#   bench/run-benchmarks.sh [--smoke] [BUILD_DIR [RESULTS_DIR]]
#
# BUILD_DIR defaults to build/linux (the linux preset, which has the
# benchmarks on), RESULTS_DIR to build/bench-results. The script builds only
# the targets it runs. The full run takes about five minutes on two cores;
# the 60 s idle run goes on beside the others. --smoke runs everything
# briefly (under a minute) to prove that it all still runs; its figures
# mean little.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
smoke=0
if [ "${1:-}" = "--smoke" ]; then
  smoke=1
  shift
fi
build=$(realpath -m "${1:-$root/build/linux}")
results=$(realpath -m "${2:-$root/build/bench-results}")

if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" = "$root/build/linux" ]; then
    (cd "$root" && cmake --preset linux >/dev/null)
  else
    echo "run-benchmarks: $build is no configured build folder" >&2
    exit 1
  fi
fi
grep -q '^VASK_BUILD_BENCH:BOOL=ON' "$build/CMakeCache.txt" ||
  cmake -S "$root" -B "$build" -DVASK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target codec_bench engine_bench cross_bench e2e_bench vask-host vask >/dev/null

mkdir -p "$results"
rm -f "$results"/*.txt "$results"/*.json

if [ $smoke -eq 1 ]; then
  gbench=(--benchmark_min_time=0.01)
  idle_seconds=5
  chat=(40 200)
  memory=(1000 2000)
else
  gbench=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_min_time=0.3)
  idle_seconds=60
  chat=(400 2000)
  memory=(10000 100000)
fi

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M:%S UTC')"
  echo "commit: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "build: $build ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt"))"
  echo "nproc: $(nproc)"
  echo "cpu: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
  echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  [ $smoke -eq 1 ] && echo "smoke run: the figures are not measurements"
} >"$results/machine.txt"

host=$build/vask-host
"$build/bench/e2e_bench" idle "$host" "$idle_seconds" >"$results/idle.txt" &
idle_pid=$!

"$build/bench/codec_bench" "${gbench[@]}" --benchmark_out="$results/codec.json" \
  --benchmark_out_format=json >"$results/codec.txt"
"$build/bench/engine_bench" "${gbench[@]}" --benchmark_out="$results/engine.json" \
  --benchmark_out_format=json >"$results/engine.txt"
"$build/bench/cross_bench" "${gbench[@]}" --benchmark_out="$results/cross.json" \
  --benchmark_out_format=json >"$results/cross.txt"
"$build/bench/e2e_bench" chat "$host" "${chat[@]}" >"$results/chat.txt"
"$build/bench/e2e_bench" memory "$host" "${memory[@]}" >"$results/memory.txt"
wait "$idle_pid"

echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/machine.txt"

if command -v python3 >/dev/null; then
  python3 "$root/bench/summarize.py" "$results" >"$results/summary.txt"
  cat "$results/summary.txt"
else
  echo "run-benchmarks: no python3, so no summary; the figures are in $results"
fi
