#!/bin/sh
# The Wine checks, under the name older CI lines call: the Wine test host
# against the 64-bit DLL under wine64, then against the shipped 32-bit DLL
# under 32-bit Wine (skipped, with the reason, where the kernel runs no
# 32-bit x86 code). See tools/run-wine-tests.sh.
set -eu
here=$(dirname "$0")
"$here/run-wine-tests.sh" --x64
"$here/run-wine-tests.sh"
