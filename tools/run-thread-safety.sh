#!/bin/sh
# clang's thread-safety analysis of every annotated lock: configures and
# builds the linux-clang preset (the targets vaskwin32, vask_core, vask and
# vask-host with all the host's libraries, the web face included, compiled
# by clang 14 with -Wthread-safety -Wthread-safety-beta -Wall -Wextra
# -Werror), so any access to a guarded member without its lock, a helper
# that needs a lock called without it, a lock left held, or locks taken
# against their declared order fails the build: in the platform library,
# in the plug-in and in the stand-in host alike.
# What it builds is for the analysis only (the plug-in's texts stay UTF-8);
# it builds no tests.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/install-deps.sh" tests
cmake --preset linux-clang >/dev/null
cmake --build --preset linux-clang
echo "thread-safety: the platform library, the plug-in and the host build without a warning"
