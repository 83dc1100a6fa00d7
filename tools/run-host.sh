#!/usr/bin/env bash
# The messenger on the emulated LAN, ready to talk: installs what is missing,
# builds the linux preset and opens a tmux session with two computers, ALICE
# and BOB, side by side. Their profiles stay on disk and their LAN directory
# is the same at every run, so a second run finds the contacts, the history
# and the last status (with its description) again. A session that runs
# already is attached to (or, off a terminal, named) instead of started.
#   tools/run-host.sh [session-name]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
session=${1:-vask}

help_line='Ctrl-b o: drugi panel · /help: polecenia · /quit: wyjście · Ctrl-b d: odłącz'

# Attaches when this is a terminal outside tmux; else says how, and succeeds.
attach() {
  if [ -t 0 ] && [ -t 1 ] && [ -z "${TMUX:-}" ]; then
    exec tmux attach -t "$session"
  fi
  echo "run-host: ALICE i BOB działają w sesji tmux $session."
  echo "  dołącz:   tmux attach -t $session"
  echo "  panele:   Ctrl-b o (albo Ctrl-b i strzałka, albo myszą); odłącz: Ctrl-b d"
  echo "  wyjście:  /quit w każdym panelu albo tmux kill-session -t $session"
  exit 0
}

if command -v tmux >/dev/null 2>&1 && tmux has-session -t "$session" 2>/dev/null; then
  attach
fi

cd "$root"
tools/install-deps.sh demo
cmake --preset linux >/dev/null
cmake --build --preset linux --target vask vask-host

# The line editor needs a UTF-8 locale for Polish letters.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8*|*utf8*) ;;
  *) export LANG=C.UTF-8 LC_ALL=C.UTF-8 ;;
esac

profiles="${XDG_DATA_HOME:-$HOME/.local/share}/vask/run-host"
lan="${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}}/vask-run-host-$(id -u)"
mkdir -p "$profiles"
mkdir -p -m 700 "$lan"
host="$root/build/linux/vask-host"
start() {  # computer; the first lines of its pane say how to get around
  printf "printf '%%s\\\\n' '%s' ''; %q --computer %q --lan-dir %q --profile %q; echo 'vask-host zakończył pracę; Enter zamyka panel'; read -r _" \
    "$help_line" "$host" "$1" "$lan" "$profiles/$1.db"
}
# Asked before the hosts start: a profile made by this run is new.
new_alice=1 new_bob=1
[ -e "$profiles/ALICE.db" ] && new_alice=0
[ -e "$profiles/BOB.db" ] && new_bob=0

tmux new-session -d -s "$session" -x 160 -y 48 "$(start ALICE)"
tmux split-window -h -t "$session" "$(start BOB)"
tmux set-option -t "$session" mouse on >/dev/null
tmux set-option -t "$session" status-right-length 100 >/dev/null
tmux set-option -t "$session" status-right " $help_line " >/dev/null
# Keys typed before the line editor reads them would be echoed twice: wait
# (at most 10 s) for the pane's first prompt.
prompted() {  # pane
  local i
  for i in $(seq 100); do
    tmux capture-pane -p -t "$1" | grep -qE '^[^ *>]*> ?$' && return 0
    sleep 0.1
  done
  return 1
}
# A new profile: online with the other as its contact, typed as a person
# would. A stored one brings its status and contacts back by itself. Either
# way each talks with the other, as the prompt then says.
if prompted "$session:0.0"; then
  [ "$new_alice" = 1 ] && tmux send-keys -t "$session:0.0" '/status dostępny' Enter '/add BOB' Enter
  tmux send-keys -t "$session:0.0" '/msg BOB' Enter
fi
if prompted "$session:0.1"; then
  [ "$new_bob" = 1 ] && tmux send-keys -t "$session:0.1" '/status dostępny' Enter '/add ALICE' Enter
  tmux send-keys -t "$session:0.1" '/msg ALICE' Enter
fi
tmux select-pane -t "$session:0.0"

attach
