#!/usr/bin/env bash
# The messenger on the emulated LAN, ready to talk: installs what is missing,
# builds the linux preset and opens a tmux session with two computers, ALICE
# and BOB, on one fresh LAN directory, each the other's contact and online.
#   tools/run-host.sh [session-name]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
session=${1:-vask}
cd "$root"
tools/install-deps.sh tmux libreadline-dev
cmake --preset linux >/dev/null
cmake --build --preset linux --target vask vask-host

# The line editor needs a UTF-8 locale for Polish letters.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8*|*utf8*) ;;
  *) export LANG=C.UTF-8 LC_ALL=C.UTF-8 ;;
esac

lan=$(mktemp -d "${TMPDIR:-/tmp}/vask-lan.XXXXXX")
host="$root/build/linux/vask-host"
start() {  # computer, its partner
  printf '%q --computer %q --lan-dir %q --profile :memory:; echo "vask-host ended; Enter closes"; read -r _' \
    "$host" "$1" "$lan"
}
if tmux has-session -t "$session" 2>/dev/null; then
  echo "run-host: a tmux session named $session exists already: tmux attach -t $session" >&2
  exit 1
fi
tmux new-session -d -s "$session" -x 160 -y 48 "$(start ALICE)"
tmux split-window -h -t "$session" "$(start BOB)"
tmux set-option -t "$session" mouse on >/dev/null
# Each side online with the other as its contact, typed as a person would.
tmux send-keys -t "$session:0.0" '/status dostępny' Enter '/add BOB' Enter '/msg BOB' Enter
tmux send-keys -t "$session:0.1" '/status dostępny' Enter '/add ALICE' Enter '/msg ALICE' Enter
tmux select-pane -t "$session:0.0"

if [ -t 0 ] && [ -t 1 ] && [ -z "${TMUX:-}" ]; then
  exec tmux attach -t "$session"
fi
echo "run-host: ALICE and BOB are running in tmux session $session (LAN $lan)."
echo "  attach:   tmux attach -t $session"
echo "  panes:    Ctrl-b o (or Ctrl-b arrow, or the mouse); detach: Ctrl-b d"
echo "  quit:     /quit in each pane, or tmux kill-session -t $session"
