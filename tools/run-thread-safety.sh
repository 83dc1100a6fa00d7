#!/bin/sh
# clang's thread-safety analysis of the platform library and the plug-in:
# configures and builds the linux-clang preset (the targets vaskwin32,
# vask_core and vask, compiled by clang 14 with -Wthread-safety
# -Wthread-safety-beta -Wall -Wextra -Werror),
# so any access to a guarded member without its lock, a lock left held, or
# locks taken against their declared order fails the build.
# The library it builds is for the analysis only (its texts stay UTF-8).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/install-deps.sh" tests
cmake --preset linux-clang >/dev/null
cmake --build --preset linux-clang
echo "thread-safety: the platform library and the plug-in build without a warning"
