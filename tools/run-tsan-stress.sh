#!/bin/sh
# The stress test (eight senders, a search, status changes, engine restarts
# and a bus subscriber at once) under the thread sanitizer: builds only what
# it needs in build/linux-tsan and fails on any report (the sanitizer's exit
# code) as on any failed check.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan --target stress_tests vask vask_test_listener
TSAN_OPTIONS=${TSAN_OPTIONS:-"halt_on_error=1 second_deadlock_stack=1"} \
  VASK_BUILD_DIR="$root/build/linux-tsan" exec "$root/build/linux-tsan/tests/stress_tests"
