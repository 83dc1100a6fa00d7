#!/usr/bin/env bash
# Two vask-hosts on their terminal front ends in tmux, on a fresh LAN: a line
# typed in ALICE's pane appears in BOB's as "[HH:MM] ALICE: text", Polish
# letters intact, the sender sees a sent mark, a failed send shows as a
# notice saying why, and a status change shows with its name.
#   interactive_test.sh <vask-host>
set -euo pipefail
host=$1
command -v tmux >/dev/null || { echo "tmux is missing"; exit 1; }
export LANG=C.UTF-8 LC_ALL=C.UTF-8
lan=$(mktemp -d)
session=vask-interactive-$$
# A sanitizer's report would go to the pane and be lost with it; each host
# writes it to <lan>/<computer>.san.<pid> instead, shown when the test fails.
cleanup() {
  local rc=$?
  if [ "$rc" != 0 ]; then
    for report in "$lan"/*.san.*; do
      [ -e "$report" ] && { echo "--- $report"; cat "$report"; }
    done
  fi
  tmux kill-session -t "$session" 2>/dev/null || true
  rm -rf "$lan"
}
trap cleanup EXIT

# Each host's exit code lands in <lan>/<computer>.rc: tmux reports a pane's
# status late or not at all on some machines, a file is plain. A second
# argument is a folder put first in the host's PATH.
run() {
  local path=$PATH
  [ -n "${2:-}" ] && path=$2:$PATH
  printf 'sh -c %q' "$(printf 'PATH=%q %s %q --computer %q --lan-dir %q --profile :memory:; echo $? > %q' \
    "$path" "$(sanitizers "$1")" "$host" "$1" "$lan" "$lan/$1.rc")"
}
sanitizers() {
  local log="log_path=$lan/$1.san"
  printf 'TSAN_OPTIONS=%q ASAN_OPTIONS=%q' "${TSAN_OPTIONS:+$TSAN_OPTIONS:}$log" \
    "${ASAN_OPTIONS:+$ASAN_OPTIONS:}$log"
}
# The desktop's opener: ALICE's finds no browser and says so in English, as
# the real one does; BOB's opens the document and notes it.
mkdir "$lan/no-browser" "$lan/browser"
cat > "$lan/no-browser/xdg-open" <<'END'
#!/bin/sh
echo "xdg-open: no method available for opening '$1'"
echo "/usr/bin/xdg-open: 882: www-browser: not found" >&2
exit 3
END
printf '#!/bin/sh\necho "$1" >> %q\n' "$lan/opened" > "$lan/browser/xdg-open"
chmod +x "$lan/no-browser/xdg-open" "$lan/browser/xdg-open"
tmux new-session -d -s "$session" -x 150 -y 40 "$(run ALICE "$lan/no-browser")"
tmux split-window -h -t "$session" "$(run BOB "$lan/browser")"
tmux set-option -t "$session" remain-on-exit on >/dev/null

# Waits up to 20 s for the pane to show the pattern (a fixed string).
expect() {
  local pane=$1 pattern=$2
  for _ in $(seq 200); do
    tmux capture-pane -p -J -t "$session:0.$pane" | grep -qF -- "$pattern" && return 0
    sleep 0.1
  done
  echo "pane $pane never showed: $pattern"
  tmux capture-pane -p -J -t "$session:0.$pane"
  exit 1
}

expect 0 "ALICE w grupie"
expect 1 "BOB w grupie"
tmux send-keys -t "$session:0.0" '/status dostępny' Enter '/add BOB' Enter
tmux send-keys -t "$session:0.1" '/status dostępny' Enter '/add ALICE' Enter
expect 0 "BOB: Dostępny"
expect 1 "ALICE: Dostępny"

tmux send-keys -t "$session:0.0" '/msg BOB Zażółć gęślą jaźń' Enter
expect 1 "ALICE: Zażółć gęślą jaźń"
# The sender sees the mark of a message that went out.
expect 0 "✓ wysłano"
# A message never makes its sender the partner: BOB's plain line is refused
# until he answers with /r; then the prompt names ALICE.
tmux send-keys -t "$session:0.1" 'dzięki' Enter
expect 1 "Do kogo? Zacznij od /msg NAZWA albo /r (odpowiedź dla ALICE)."
tmux send-keys -t "$session:0.1" '/r dzięki' Enter
expect 0 "BOB: dzięki"
expect 1 "ALICE> "
tmux capture-pane -p -J -t "$session:0.1" | grep -qE '^\[[0-9]{2}:[0-9]{2}\] ALICE: Zażółć' ||
  { echo "the message line lacks its time"; exit 1; }

# A message to everybody reaches BOB; ALICE sees it as sent, never as received.
tmux send-keys -t "$session:0.0" '/all Zebranie o 15' Enter
expect 1 "ALICE: Zebranie o 15"
expect 0 "ALICE -> wszyscy: Zebranie o 15"
tmux send-keys -t "$session:0.1" '/r będę' Enter
expect 0 "BOB: będę"
if tmux capture-pane -p -J -t "$session:0.0" | grep -qF '] ALICE: Zebranie o 15'; then
  echo "ALICE's message to everybody came back to her:"; tmux capture-pane -p -J -t "$session:0.0"; exit 1
fi

tmux send-keys -t "$session:0.1" '/status zw w kuchni' Enter
expect 0 "BOB: Zaraz wracam (w kuchni)"

# Commands answered at once leave no stale prompt: each typed line stands
# on its own row after the prompt, never run on behind an earlier one.
tmux send-keys -t "$session:0.0" '/contacts' Enter '/help' Enter '/page' Enter
expect 0 "Nazwa kanału: Vask"
# Settings by the words of their labels, a check box by tak or nie.
expect 0 "Obsługuj WinPopup   (/page winpopup tak|nie)"
tmux send-keys -t "$session:0.0" '/page winpopup nie' Enter
expect 0 "Ustawienie „Obsługuj WinPopup” = nie"
tmux send-keys -t "$session:0.0" '/page winpopup tak' Enter
expect 0 "Ustawienie „Obsługuj WinPopup” = tak"
if tmux capture-pane -p -J -t "$session:0.0" | grep -qE '> /[a-z]+.*> '; then
  echo "a stale prompt:"; tmux capture-pane -p -J -t "$session:0.0"; exit 1
fi
# BOB's details, fetched from BOB, as a table.
tmux send-keys -t "$session:0.1" '/own imię=Robert miasto=Łódź' Enter
expect 1 "Twoje dane ogłoszone w sieci."
tmux send-keys -t "$session:0.0" '/details bob' Enter
expect 0 "Dane kontaktu BOB"
expect 0 "Łódź"
# A search finds BOB, shown in a table with Polish labels.
tmux send-keys -t "$session:0.0" '/search imię=Robert' Enter
expect 0 "Znaleziono: BOB"
tmux send-keys -t "$session:0.0" '/cancel' Enter
expect 0 "Szukanie zakończone: wyników 1."
tmux send-keys -t "$session:0.0" '/results' Enter
expect 0 "Komputer  Stan"

# A message to a computer that is not there: the failure is a notice, drawn
# apart from the contacts' words, that says in Polish what failed.
tmux send-keys -t "$session:0.0" '/msg NIKT halo' Enter
expect 0 "Nie wysłano wiadomości."
expect 0 "!!! Powiadomienie (NIKT)"
expect 0 "nie ma takiego komputera w sieci"

# A third computer left alone goes away by itself and comes back with a key.
# Its ten minutes pass at once: the clock its idle watch reads is turned.
tmux split-window -v -t "$session:0.1" \
  "$(printf '%s %q --computer EWA --lan-dir %q --profile :memory: --away-after 600' \
    "$(sanitizers EWA)" "$host" "$lan")"
tmux send-keys -t "$session:0.2" '/status dostępny' Enter
expect 2 "Twój status: Dostępny"
tmux send-keys -t "$session:0.2" '!clock +601' Enter
expect 2 "Nic nie piszesz od 10 min"
expect 2 "Twój status: Nieobecny (automatycznie)"
tmux send-keys -t "$session:0.2" ' '
expect 2 "Twój status: Dostępny"

# A computer that is not there never answers a details request: after ten
# seconds of the host's clock (turned here) the terminal says so.
tmux send-keys -t "$session:0.0" '/add żółw' Enter '/details żółw' Enter
expect 0 "Pobieram dane ŻÓŁW"
tmux send-keys -t "$session:0.0" '!clock +11' Enter
expect 0 "ŻÓŁW nie odpowiada: po 10 s nie ma nowych danych"

# The help document: opened once by the desktop's opener, whose own lines
# never reach the screen; with no browser, a Polish line says so.
tmux send-keys -t "$session:0.1" '/pomoc' Enter
expect 1 "Otwieram pomoc wtyczki: "
[ "$(wc -l < "$lan/opened")" = 1 ] && grep -q 'doc/Vask.html$' "$lan/opened" ||
  { echo "the help document was not opened once:"; cat "$lan/opened"; exit 1; }
tmux send-keys -t "$session:0.0" '/pomoc' Enter
expect 0 "Nie udało się otworzyć pomocy: żaden program nie otworzył dokumentu"
if tmux capture-pane -p -J -t "$session:0.0" | grep -qE 'no method available|www-browser'; then
  echo "the opener's own lines reached the screen:"; tmux capture-pane -p -J -t "$session:0.0"; exit 1
fi

# An unknown status word is refused on the spot; /quit ends the program.
tmux send-keys -t "$session:0.0" '/status senny' Enter
expect 0 "Nieznany stan: senny"
tmux send-keys -t "$session:0.0" '/quit' Enter
for _ in $(seq 100); do
  [ -s "$lan/ALICE.rc" ] && break
  sleep 0.1
done
[ "$(cat "$lan/ALICE.rc" 2>/dev/null)" = 0 ] ||
  { echo "ALICE did not quit cleanly: exit code '$(cat "$lan/ALICE.rc" 2>/dev/null)'"; exit 1; }
echo "interactive front end: ok"
