#!/usr/bin/env bash
# The messenger in the browser: builds the linux preset and starts two
# computers, ALICE and BOB, on one emulated LAN, each with its web face and
# its profile on disk, each the other's contact. Prints both addresses
# (open each in its own browser window) and runs until Ctrl-C, which ends
# both hosts as "quit" does.
#   tools/run-web.sh [profile folder]
# The profiles (ALICE.db, BOB.db) and the hosts' event logs lie in the
# profile folder (default: ${XDG_STATE_HOME:-~/.local/state}/vask-web), so a
# second run finds the contacts and the history of the first.
# Run again while they run (from another terminal), it starts nothing new:
# it prints the addresses again, opens them on a desktop, and starts again
# a computer that was ended (its host killed or crashed) on the same LAN;
# Ctrl-C in the first run still ends both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
state=${1:-${XDG_STATE_HOME:-$HOME/.local/state}/vask-web}
mkdir -p "$state"
state=$(cd "$state" && pwd)
host="$root/build/linux/vask-host"
computers=(ALICE BOB)
# One LAN per profile folder, the same at every run, so that a computer
# started again finds the other; short enough for socket paths.
lan="${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}}/vask-run-web-$(id -u)-$(printf '%s' "$state" | cksum | cut -d' ' -f1)"
partner() { if [ "$1" = ALICE ]; then echo BOB; else echo ALICE; fi; }

# A host holds its profile's lock while it runs, with its process id in it.
running() { [ -e "$state/$1.db.lock" ] && ! flock -n "$state/$1.db.lock" true 2>/dev/null; }
pid_of() { tr -cd '0-9' <"$state/$1.db.lock" 2>/dev/null; }
url_of() { sed -n 's/^vask-host: strona: //p' "$state/$1.err" 2>/dev/null | head -1; }

start() {  # computer
  local computer=$1
  : >"$state/$computer.err"
  # The page keeps a host going after its input ends: the input only makes
  # the partner a contact. Its own session: Ctrl-C reaches this script,
  # which ends the hosts as "quit" does.
  printf 'add %s\n' "$(partner "$computer")" |
    setsid "$host" --computer "$computer" --lan-dir "$lan" --profile "$state/$computer.db" --web \
      >"$state/$computer.events" 2>"$state/$computer.err" &
}

# Each host prints its address, with its token, as it starts.
show() {  # open: 1 to open the pages on a desktop
  local computer url
  for computer in "${computers[@]}"; do
    for _ in $(seq 100); do
      [ -n "$(url_of "$computer")" ] && break
      running "$computer" || [ -n "$(jobs -p)" ] || break
      sleep 0.1
    done
    url=$(url_of "$computer")
    if [ -z "$url" ] || ! running "$computer"; then
      echo "run-web: $computer nie wystartował; zobacz $state/$computer.err" >&2
      return 1
    fi
    printf '%-6s %s\n' "$computer" "$url"
    if [ "$1" = 1 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xdg-open >/dev/null; then
      xdg-open "$url" >/dev/null 2>&1 &
    fi
  done
}

stop_all() {
  local computer pid
  for computer in "${computers[@]}"; do
    if running "$computer"; then
      pid=$(pid_of "$computer")
      [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
    fi
  done
  for _ in $(seq 100); do
    running ALICE || running BOB || break
    sleep 0.1
  done
  running ALICE || running BOB || rm -rf "$lan"
}

# Both running: nothing to build or start.
all_running=1
for computer in "${computers[@]}"; do running "$computer" || all_running=0; done
if [ "$all_running" = 0 ]; then
  cd "$root"
  if ! tools/install-deps.sh --polish web; then
    echo "run-web: bez tych pakietów ALICE i BOB nie wystartują" >&2
    exit 1
  fi
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target vask vask-host
fi

# The first run owns the hosts: its Ctrl-C ends them. A later run only
# starts what was ended and shows the pages.
exec 9>"$state/.run-web.lock"
if ! flock -n 9; then
  for computer in "${computers[@]}"; do
    running "$computer" || { echo "run-web: uruchamiam ponownie $computer"; start "$computer"; }
  done
  show 1 || exit 1
  echo "run-web: ALICE i BOB działają już (run-web.sh w innym oknie; tam Ctrl-C kończy oba)."
  exit 0
fi

mkdir -p -m 700 "$lan"
trap 'trap - INT TERM EXIT; stop_all' INT TERM EXIT
for computer in "${computers[@]}"; do
  # Left running by a run that was killed: kept, and owned from now on.
  running "$computer" || start "$computer"
done
show 0 || exit 1
echo "run-web: profiles and logs in $state; Ctrl-C ends both hosts."
# Until both have ended (one ended alone can be started again by a second
# run-web.sh).
while running ALICE || running BOB; do sleep 1; done
