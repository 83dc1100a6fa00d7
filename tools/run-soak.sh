#!/bin/sh
# The soak test at full length: two vask-host processes exchange
# $VASK_SOAK_MESSAGES messages in each direction (100 000 unless set) under a
# stream of malformed datagrams, and the test prints its time, rate and the
# hosts' memory. Usage: tools/run-soak.sh [build folder, default build/linux]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/linux"}
case $build in /*) ;; *) build="$PWD/$build" ;; esac
if [ ! -x "$build/tests/multi_tests" ] || [ ! -x "$build/vask-host" ]; then
  echo "run-soak: build multi_tests and vask-host in $build first" >&2
  exit 2
fi
VASK_SOAK_MESSAGES=${VASK_SOAK_MESSAGES:-100000} VASK_BUILD_DIR="$build" \
  exec "$build/tests/multi_tests" --gtest_filter='Soak.*'
