#!/bin/sh
# The Wine checks are tools/run-wine-tests.sh now (the 32-bit DLL under
# 32-bit Wine); this name stays so that older CI lines still run them.
exec "$(dirname "$0")/run-wine-tests.sh" "$@"
