#!/usr/bin/env bash
# The messenger on the emulated LAN, ready to talk: installs what is missing,
# builds the linux preset and opens a tmux session with two computers, ALICE
# and BOB, side by side. Their profiles stay on disk and their LAN directory
# is the same at every run, so a second run finds the contacts, the history
# and the last status (with its description) again. A session that runs
# already is attached to (or, off a terminal, named) instead of started, and
# a computer that was quit in it is started again in its pane first; in the
# pane itself Enter starts it again too.
#   tools/run-host.sh [session-name]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host="$root/build/linux/vask-host"
profiles="${XDG_DATA_HOME:-$HOME/.local/share}/vask/run-host"
lan="${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}}/vask-run-host-$(id -u)"
help_line='Ctrl-b o: drugi panel · /help: polecenia · /quit: wyjście · Ctrl-b d: odłącz'

# The line editor needs a UTF-8 locale for Polish letters.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8*|*utf8*) ;;
  *) export LANG=C.UTF-8 LC_ALL=C.UTF-8 ;;
esac

# One computer's pane: the host, and after it ends, Enter starts it again
# (Ctrl-D closes the pane).
if [ "${1:-}" = --pane ]; then
  computer=$2
  while :; do
    printf '%s\n\n' "$help_line"
    "$host" --computer "$computer" --lan-dir "$lan" --profile "$profiles/$computer.db" || true
    echo "$computer zakończył pracę. Enter: uruchom ponownie · Ctrl-D: zamknij panel"
    read -r _ || exit 0
  done
fi

session=${1:-vask}
computers=(ALICE BOB)
partner() { if [ "$1" = ALICE ]; then echo BOB; else echo ALICE; fi; }
pane_command() { printf '%q ' "$root/tools/run-host.sh" --pane "$1"; }

# A host holds its profile's lock while it runs.
running() {
  [ -e "$profiles/$1.db.lock" ] && ! flock -n "$profiles/$1.db.lock" true 2>/dev/null
}

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

# The pane that runs a computer, by the mark set when it was made.
pane_of() {
  tmux list-panes -s -t "$session" -F '#{pane_id} #{@vask_computer}' 2>/dev/null |
    awk -v c="$1" '$2 == c {print $1; exit}'
}

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
  # A computer that was quit comes back in its own pane (or a new one when
  # its pane was closed); the other one runs on untouched.
  for computer in "${computers[@]}"; do
    running "$computer" && continue
    pane=$(pane_of "$computer")
    if [ -n "$pane" ]; then
      tmux respawn-pane -k -t "$pane" "$(pane_command "$computer")"
    else
      pane=$(tmux split-window -h -P -F '#{pane_id}' -t "$session" "$(pane_command "$computer")")
      tmux set-option -p -t "$pane" @vask_computer "$computer"
    fi
    prompted "$pane" && tmux send-keys -t "$pane" "/msg $(partner "$computer")" Enter
    echo "run-host: $computer uruchomiony ponownie"
  done
  attach
fi

cd "$root"
if ! tools/install-deps.sh --polish demo; then
  echo "run-host: bez tych pakietów ALICE i BOB nie wystartują" >&2
  exit 1
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target vask vask-host

mkdir -p "$profiles"
mkdir -p -m 700 "$lan"
# A host still running without its session (its pane's shell ended
# otherwise) would refuse the new one on its profile.
for computer in "${computers[@]}"; do
  if running "$computer"; then
    echo "run-host: $computer działa już poza sesją $session (proces $(tr -cd '0-9' <"$profiles/$computer.db.lock")); zakończ go najpierw" >&2
    exit 1
  fi
done
# Asked before the hosts start: a profile made by this run is new.
new_alice=1 new_bob=1
[ -e "$profiles/ALICE.db" ] && new_alice=0
[ -e "$profiles/BOB.db" ] && new_bob=0

alice=$(tmux new-session -d -P -F '#{pane_id}' -s "$session" -x 160 -y 48 "$(pane_command ALICE)")
bob=$(tmux split-window -h -P -F '#{pane_id}' -t "$alice" "$(pane_command BOB)")
tmux set-option -p -t "$alice" @vask_computer ALICE
tmux set-option -p -t "$bob" @vask_computer BOB
tmux set-option -t "$session" mouse on >/dev/null
tmux set-option -t "$session" status-right-length 100 >/dev/null
tmux set-option -t "$session" status-right " $help_line " >/dev/null
# A new profile: online with the other as its contact, typed as a person
# would. A stored one brings its status and contacts back by itself. Either
# way each talks with the other, as the prompt then says.
if prompted "$alice"; then
  [ "$new_alice" = 1 ] && tmux send-keys -t "$alice" '/status dostępny' Enter '/add BOB' Enter
  tmux send-keys -t "$alice" '/msg BOB' Enter
fi
if prompted "$bob"; then
  [ "$new_bob" = 1 ] && tmux send-keys -t "$bob" '/status dostępny' Enter '/add ALICE' Enter
  tmux send-keys -t "$bob" '/msg ALICE' Enter
fi
tmux select-pane -t "$alice"

attach
