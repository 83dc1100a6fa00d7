#!/usr/bin/env bash
# The web face's tests in Chromium (web_face.test.mjs): installs the pinned
# playwright-core from the lock file when it is missing, runs the tests
# against the given vask-host, and keeps a screenshot of every step in the
# artifacts folder. Exits 77 (a skip, with its reason) only when Chromium or
# Node.js is not installed.
#   tests/web/run-browser-tests.sh <vask-host> <artifacts folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
host=$(realpath "$1")
artifacts=$(realpath -m "$2")
chromium=${VASK_CHROMIUM:-/usr/bin/chromium}

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "skipped: Node.js (node and npm) is not installed; tools/install-deps.sh installs it"
  exit 77
fi
if [ ! -x "$chromium" ]; then
  echo "skipped: Chromium is not installed at $chromium; tools/install-deps.sh installs it"
  exit 77
fi
cd "$here"
if [ ! -d node_modules/playwright-core ]; then
  npm ci --no-audit --no-fund
fi
rm -rf "$artifacts"
mkdir -p "$artifacts"
export VASK_HOST=$host VASK_WEB_ARTIFACTS=$artifacts VASK_CHROMIUM=$chromium
# The hosts' names are converted to Windows-1250 the same way in any locale;
# the page and the browser speak UTF-8 whatever it is.
exec node --test --test-reporter=spec web_face.test.mjs
