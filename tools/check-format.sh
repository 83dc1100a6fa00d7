#!/usr/bin/env bash
# Fails when a C++ source of the repository differs from what clang-format
# (the project's .clang-format) makes of it; prints the files. With --fix,
# formats them in place instead.
#   tools/check-format.sh [--fix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
format=$(command -v clang-format-14)
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'check-format: not formatted: %s\n' "${bad[@]}" >&2
  echo "check-format: run tools/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
