#!/usr/bin/env bash
# End-to-end test of the UDP path: network namespaces on one Linux bridge,
# each with its own LAN directory and scripted vask-host, no vask-bridge.
# ALPHA and BRAVO have remote mailslots switched off (VASK_REMOTE_MAILSLOTS=off,
# as on newer Windows), so everything between them goes by UDP frames:
# they see each other's status, chat (each message shown once) and find
# each other by search. The computer names resolve through the namespaces'
# hosts files, as a LAN's names do. In a third namespace the UDP port is
# taken by another program: CHARLIE and DELTA there cannot bind it, say so
# in their logs, and still chat by mailslot.
# ECHO's copy speaks mailslots only (VASK_UDP=off) through its vask-bridge,
# which speaks the frames for it: ECHO, ALPHA and BRAVO see each other's
# status and chat, each message shown once. FOXTROT's copy speaks both ways
# itself beside its bridge, which was started first: the copy keeps the
# port, and what ECHO's bridge sends both ways (and FOXTROT's bridge and
# copy send one way each) is shown once on either side.
#
#   tools/netns-udp-test.sh [BUILD_DIR]      (as root; default build/linux)
#
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=netns-udp-test
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
netns_build_dir "${1:-}"
HOST_BIN=$BUILD/vask-host
BRIDGE_BIN=$BUILD/vask-bridge
TAG=vu$$
NAMES=(ALPHA BRAVO CHARLIE DELTA ECHO FOXTROT)
SUBNET=10.213.9
PORT=41925
DEADLINE=${NETNS_TEST_DEADLINE:-30}

netns_require
netns_built "$HOST_BIN" "$BRIDGE_BIN" "$BUILD/libvask.so"
command -v python3 >/dev/null || { echo "$SCRIPT: python3 is needed to read the hosts' events"; exit 1; }

netns_begin vask-netns-udp "${NETNS_TEST_KEEP:-}"
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1" "${TAG}n2" "${TAG}n3" "${TAG}n4"

# The LAN's names, as ip netns exec shows /etc/netns/<ns>/hosts as /etc/hosts.
for i in 0 1 2 3 4; do
  mkdir -p "/etc/netns/${TAG}n$i"
  printf '%s.1 ALPHA\n%s.2 BRAVO\n%s.3 CHARLIE\n%s.3 DELTA\n%s.4 ECHO\n%s.5 FOXTROT\n' \
    "$SUBNET" "$SUBNET" "$SUBNET" "$SUBNET" "$SUBNET" "$SUBNET" >"/etc/netns/${TAG}n$i/hosts"
done
remove_hosts() {
  for i in 3 4 5 6 7 8; do eval "exec $i>&-" 2>/dev/null; done
  for i in 0 1 2 3 4; do rm -rf "/etc/netns/${TAG}n$i"; done
  netns_cleanup
}
trap remove_hosts EXIT

# start_host INDEX NAMESPACE LAN FD ENV...: a scripted host, its events in
# events<INDEX>.jsonl, its log in host<INDEX>.log.
start_host() {
  local i=$1 ns=$2 lan=$3 fd=$4
  shift 4
  mkfifo "$WORK/in$i"
  mkdir -p -m 0700 "$lan"
  ip netns exec "$ns" env -u VASK_REAL_LAN VASK_UDP=on "$@" "$HOST_BIN" --script \
    --computer "${NAMES[$i]}" --lan-dir "$lan" --profile :memory: \
    <"$WORK/in$i" >"$WORK/events$i.jsonl" 2>"$WORK/host$i.log" &
  PIDS+=($!)
  eval "exec $fd>\"$WORK/in$i\""
}
say() { local i=$1; shift; echo "$*" >&$((3 + i)); }
wait_for() { wait_json "$WORK/events$1.jsonl" "$2"; }
# sees INDEX COMPUTER: the host's contact list shows COMPUTER available
# (asked again until DEADLINE).
sees() {
  local i=$1 who=$2 _
  for _ in $(seq $((DEADLINE / 2))); do
    say "$i" contacts
    DEADLINE=2 wait_for "$i" "e['event'] == 'contacts' and any(c['computer'] == '$who' and c['status'] == 64 for c in e['contacts'])" \
      && return 0
  done
  return 1
}
# start_bridge INDEX NAMESPACE LAN: a vask-bridge, its log in bridge<INDEX>.log.
start_bridge() {
  mkdir -p -m 0700 "$3"
  ip netns exec "$2" "$BRIDGE_BIN" --lan-dir "$3" --interface eth0 >>"$WORK/bridge$1.log" 2>&1 &
  PIDS+=($!)
}
# count INDEX PYTHON-EXPRESSION: how many events satisfy it.
count() {
  python3 - "$WORK/events$1.jsonl" "$2" <<'PY'
import json, sys
n = 0
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    try:
        e = json.loads(line)
    except ValueError:
        continue
    if eval(sys.argv[2], {"json": json}, {"e": e}):
        n += 1
print(n)
PY
}
# logged INDEX PATTERN: the host's log or its events carry the pattern.
logged() { grep -Eq "$2" "$WORK/host$1.log" "$WORK/events$1.jsonl" 2>/dev/null; }

# Another program holds the port in the third namespace.
ip netns exec "${TAG}n2" python3 -c "
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('0.0.0.0', $PORT))
time.sleep(3600)" &
PIDS+=($!)
sleep 0.5

start_host 0 "${TAG}n0" "$WORK/lan0" 3 VASK_REMOTE_MAILSLOTS=off
start_host 1 "${TAG}n1" "$WORK/lan1" 4 VASK_REMOTE_MAILSLOTS=off
start_host 2 "${TAG}n2" "$WORK/lan2" 5
start_host 3 "${TAG}n2" "$WORK/lan2" 6
# ECHO and FOXTROT: each bridge is up before its copy starts.
start_bridge 4 "${TAG}n3" "$WORK/lan4"
start_bridge 5 "${TAG}n4" "$WORK/lan5"
sleep 0.5
start_host 4 "${TAG}n3" "$WORK/lan4" 7 VASK_REAL_LAN=1 VASK_UDP=off
start_host 5 "${TAG}n4" "$WORK/lan5" 8 VASK_REAL_LAN=1 VASK_UDP=on
for i in 0 1 2 3 4 5; do
  wait_for "$i" 'e["event"] == "started"' || fail "host ${NAMES[$i]} did not start"
  say "$i" status 64 "przy biurku"
done

# Status: ALPHA and BRAVO add each other and see each other available.
say 0 add BRAVO
say 1 add ALPHA
wait_for 0 'e["event"] == "contact-status" and e.get("status") == 64' \
  && pass "ALPHA sees BRAVO's status over UDP" || fail "ALPHA never saw BRAVO's status"
wait_for 1 'e["event"] == "contact-status" and e.get("status") == 64' \
  && pass "BRAVO sees ALPHA's status over UDP" || fail "BRAVO never saw ALPHA's status"

# Chat both ways, each message shown once and acknowledged.
say 0 send BRAVO "Cześć przez UDP"
wait_for 0 'e["event"] == "send-result" and e.get("sent") in (1, True)' \
  && pass "ALPHA's send to BRAVO succeeded" || fail "ALPHA's send to BRAVO failed"
wait_for 1 'e["event"] == "message" and e.get("from") == "ALPHA" and "Cześć przez UDP" in e.get("body", "")' \
  && pass "BRAVO received ALPHA's message" || fail "BRAVO did not receive ALPHA's message"
say 1 send ALPHA "Odpowiedź przez UDP"
wait_for 0 'e["event"] == "message" and e.get("from") == "BRAVO" and "Odpowiedź przez UDP" in e.get("body", "")' \
  && pass "ALPHA received BRAVO's reply" || fail "ALPHA did not receive BRAVO's reply"

# Search: BRAVO asks everybody and finds ALPHA.
say 1 search
wait_for 1 'e["event"] == "found-contact" and "ALPHA" in json.dumps(e)' \
  && pass "BRAVO's search found ALPHA" || fail "BRAVO's search did not find ALPHA"

# The computer that cannot bind the port: logged, and mailslots still work.
logged 2 "nie slucha na porcie UDP $PORT" && pass "CHARLIE says it cannot listen on the port" \
  || fail "CHARLIE's log does not say why it has no UDP"
say 2 add DELTA
say 3 add CHARLIE
say 2 send DELTA "Przez mailslot"
wait_for 3 'e["event"] == "message" and e.get("from") == "CHARLIE" and "Przez mailslot" in e.get("body", "")' \
  && pass "DELTA received CHARLIE's message by mailslot" || fail "DELTA did not receive CHARLIE's message"

# ECHO's bridge speaks the frames for its mailslot-only copy once the
# copy had its chance at the port; FOXTROT's copy took the port itself.
wait_grep "$WORK/bridge4.log" "speaking UDP frames on port $PORT" \
  && pass "ECHO's bridge speaks UDP frames for ECHO" || fail "ECHO's bridge never took the UDP port"
wait_grep "$WORK/bridge5.log" "UDP port $PORT is held by a copy" \
  && pass "FOXTROT's bridge leaves the port to FOXTROT's copy" || fail "FOXTROT's bridge did not leave the port"
logged 5 "nie slucha na porcie UDP" && fail "FOXTROT's copy lost the UDP port to its bridge" \
  || pass "FOXTROT's copy listens on the UDP port"
say 4 status 64 "przy biurku"
say 5 status 64 "przy biurku"

say 4 add ALPHA
say 4 add BRAVO
say 4 add FOXTROT
say 0 add ECHO
say 1 add ECHO
say 5 add ECHO
sees 0 ECHO && pass "ALPHA sees ECHO's status (by its bridge)" || fail "ALPHA never saw ECHO's status"
sees 1 ECHO && pass "BRAVO sees ECHO's status (by its bridge)" || fail "BRAVO never saw ECHO's status"
sees 4 ALPHA && pass "ECHO sees ALPHA's status" || fail "ECHO never saw ALPHA's status"
sees 4 BRAVO && pass "ECHO sees BRAVO's status" || fail "ECHO never saw BRAVO's status"
sees 4 FOXTROT && pass "ECHO sees FOXTROT's status" || fail "ECHO never saw FOXTROT's status"
sees 5 ECHO && pass "FOXTROT sees ECHO's status" || fail "FOXTROT never saw ECHO's status"

# From ECHO to everyone and back; every message must arrive.
for chat in '0 4 Od ALPHA do ECHO' '4 0 Od ECHO do ALPHA' '1 4 Od BRAVO do ECHO' '4 1 Od ECHO do BRAVO' \
  '4 5 Od ECHO do FOXTROT' '5 4 Od FOXTROT do ECHO'; do
  read -r from to body <<<"$chat"
  say "$from" send "${NAMES[$to]}" "$body"
  wait_for "$to" "e['event'] == 'message' and e.get('from') == '${NAMES[$from]}' and '$body' in e.get('body', '')" \
    && pass "${NAMES[$to]} received '$body'" || fail "${NAMES[$to]} did not receive '$body'"
done

# Every message shown once, after time for any late copy.
sleep 3
for check in '1 ALPHA Cześć przez UDP' '0 BRAVO Odpowiedź przez UDP' '3 CHARLIE Przez mailslot' \
  '4 ALPHA Od ALPHA do ECHO' '0 ECHO Od ECHO do ALPHA' '4 BRAVO Od BRAVO do ECHO' '1 ECHO Od ECHO do BRAVO' \
  '5 ECHO Od ECHO do FOXTROT' '4 FOXTROT Od FOXTROT do ECHO'; do
  read -r i from body <<<"$check"
  n=$(count "$i" "e['event'] == 'message' and e.get('from') == '$from' and '$body' in e.get('body', '')")
  [ "$n" = 1 ] && pass "'$body' shown once" || fail "'$body' shown $n times"
done
# No message was called lost.
n=$(count 0 "e['event'] == 'message' and 'prawdopodobnie' in e.get('body', '')")
[ "$n" = 0 ] && pass "ALPHA saw no message reported lost" || fail "ALPHA saw $n messages reported lost"

for i in 4 5; do
  n=$(count "$i" "e['event'] == 'message' and 'prawdopodobnie' in e.get('body', '')")
  [ "$n" = 0 ] && pass "${NAMES[$i]} saw no message reported lost" || fail "${NAMES[$i]} saw $n messages reported lost"
done

for i in 0 1 2 3 4 5; do say "$i" quit; done
sleep 1

if [ "$FAILED" = 0 ]; then echo "$SCRIPT: passed"; else echo "$SCRIPT: FAILED"; fi
exit "$FAILED"
