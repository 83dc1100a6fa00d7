#!/usr/bin/env bash
# The messenger in the browser: builds the linux preset and starts two
# computers, ALICE and BOB, on a fresh emulated LAN, each with its web face
# and its profile on disk, each the other's contact. Prints both addresses
# (open each in its own browser window) and runs until Ctrl-C, which ends
# both hosts as "quit" does.
#   tools/run-web.sh [profile folder]
# The profiles (ALICE.db, BOB.db) and the hosts' event logs lie in the
# profile folder (default: ${XDG_STATE_HOME:-~/.local/state}/vask-web), so a
# second run finds the contacts and the history of the first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
state=${1:-${XDG_STATE_HOME:-$HOME/.local/state}/vask-web}
cd "$root"
tools/install-deps.sh demo
cmake --preset linux >/dev/null
cmake --build --preset linux --target vask vask-host

mkdir -p "$state"
lan=$(mktemp -d "${TMPDIR:-/tmp}/vask-lan.XXXXXX")
host="$root/build/linux/vask-host"
pids=()
stop() {
  trap - INT TERM EXIT
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$lan"
}
trap stop INT TERM EXIT

start() {  # computer, its partner
  local computer=$1 partner=$2
  : >"$state/$computer.err"
  # The page keeps a host going after its input ends: the input only makes
  # the partner a contact.
  printf 'add %s\n' "$partner" |
    "$host" --computer "$computer" --lan-dir "$lan" --profile "$state/$computer.db" --web \
      >"$state/$computer.events" 2>"$state/$computer.err" &
  pids+=($!)
}
start ALICE BOB
start BOB ALICE

# Each host prints its address, with its token, as it starts.
for computer in ALICE BOB; do
  for _ in $(seq 100); do
    grep -q 'strona: ' "$state/$computer.err" && break
    sleep 0.1
  done
  url=$(sed -n 's/^vask-host: strona: //p' "$state/$computer.err" | head -1)
  if [ -z "$url" ]; then
    echo "run-web: $computer did not start; see $state/$computer.err" >&2
    exit 1
  fi
  printf '%-6s %s\n' "$computer" "$url"
done
echo "run-web: profiles and logs in $state; Ctrl-C ends both hosts."
wait
