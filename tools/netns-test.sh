#!/usr/bin/env bash
# End-to-end test of the real LAN: three network namespaces on one Linux
# bridge, each with its own address, LAN directory, vask-bridge and
# vask-host (scripted). Checks that the hosts see each other's status,
# chat with acknowledgements, answer a search, exchange WinPopup messages,
# and that sends to a computer whose bridge stopped fail cleanly. The
# traffic is captured on the bridge and every NetBIOS datagram is checked
# with tshark's dissectors.
#
#   tools/netns-test.sh [BUILD_DIR]      (as root; default build/linux)
#
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=netns-test
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
netns_build_dir "${1:-}"
BRIDGE_BIN=$BUILD/vask-bridge
HOST_BIN=$BUILD/vask-host
TAG=vn$$
HUB=${TAG}hub
NAMES=(ALPHA BRAVO CHARLIE)
SUBNET=10.213.7
DEADLINE=${NETNS_TEST_DEADLINE:-30}

netns_require
netns_built "$BRIDGE_BIN" "$HOST_BIN" "$BUILD/libvask.so"
command -v python3 >/dev/null || { echo "netns-test: python3 is needed to read the hosts' events"; exit 1; }

netns_begin vask-netns "${NETNS_TEST_KEEP:-}"
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1" "${TAG}n2"

CAPTURE=$WORK/capture.pcapng
TSHARK=$(command -v tshark || true)
if [ -n "$TSHARK" ]; then
  ip netns exec "$HUB" "$TSHARK" -q -i br0 -f "udp port 137 or udp port 138" -w "$CAPTURE" \
    >"$WORK/tshark.log" 2>&1 &
  PIDS+=($!)
  # The capture runs once the file has its header.
  for _ in $(seq 50); do [ -s "$CAPTURE" ] && break; sleep 0.1; done
fi

start_bridge() {  # index
  local i=$1 lan=$WORK/lan$1
  mkdir -p -m 0700 "$lan"
  ip netns exec "${TAG}n$i" "$BRIDGE_BIN" --lan-dir "$lan" --interface eth0 \
    >>"$WORK/bridge$i.log" 2>&1 &
  BRIDGE_PID[$i]=$!
  PIDS+=($!)
}

start_host() {  # index fd [option]: VASK_REAL_LAN, or the option
  local i=$1 fd=$2 lan=$WORK/lan$1 select=${3:-}
  mkfifo "$WORK/in$i"
  mkdir -p -m 0700 "$lan"
  # Mailslots through the bridge alone: UDP frames would go around it
  # (tools/netns-udp-test.sh tests them).
  local how=(VASK_REAL_LAN=1 VASK_UDP=off)
  [ -n "$select" ] && how=(-u VASK_REAL_LAN VASK_UDP=off)
  ip netns exec "${TAG}n$i" env "${how[@]}" "$HOST_BIN" --script \
    --computer "${NAMES[$i]}" --lan-dir "$lan" --profile :memory: $select \
    <"$WORK/in$i" >"$WORK/events$i.jsonl" 2>"$WORK/host$i.log" &
  PIDS+=($!)
  eval "exec $fd>\"$WORK/in$i\""
}

say() {  # index command...
  local i=$1
  shift
  echo "$*" >&$((3 + i))
}

# wait_for INDEX PYTHON-EXPRESSION: until a line of host INDEX's events,
# as the dict e, satisfies the expression (at most DEADLINE seconds).
wait_for() { wait_json "$WORK/events$1.jsonl" "$2"; }

# none_of INDEX PYTHON-EXPRESSION: no event so far satisfies it.
none_of() {
  python3 - "$WORK/events$1.jsonl" "$2" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    try:
        e = json.loads(line)
    except ValueError:
        continue
    if eval(sys.argv[2], {"json": json}, {"e": e}):
        sys.exit(1)
PY
}

# wait_served INDEX NAME: the bridge has registered the name.
bridge_log() { if [ "$1" = 2 ]; then echo "$WORK/lan2/.bridge.log"; else echo "$WORK/bridge$1.log"; fi; }
wait_served() { wait_grep "$(bridge_log "$1")" "serving $2 " && sleep 1; }

declare -A BRIDGE_PID
# ALPHA's and BRAVO's bridges are started by hand; CHARLIE's by
# vask-host --real-lan.
for i in 0 1; do start_bridge "$i"; done
sleep 0.5
for i in 0 1; do
  kill -0 "${BRIDGE_PID[$i]}" 2>/dev/null || { cat "$WORK/bridge$i.log"; echo "FAIL: bridge $i did not start"; FAILED=1; exit 1; }
done

# A second bridge in the same namespace must refuse: the ports are taken.
ip netns exec "${TAG}n0" "$BRIDGE_BIN" --lan-dir "$WORK/lan0b" --interface eth0 >"$WORK/second.log" 2>&1
if [ $? -ne 0 ] && grep -q "is taken" "$WORK/second.log"; then
  pass "a second bridge refuses: $(head -1 "$WORK/second.log" | cut -d' ' -f3-)"
else
  fail "a second bridge on the same ports did not refuse clearly"
fi

for i in 0 1; do start_host "$i" $((3 + i)); done
start_host 2 5 --real-lan
for i in 0 1 2; do
  wait_for "$i" 'e["event"] == "started"' || fail "host ${NAMES[$i]} did not start"
  # WinPopup emulation on, then the engine starts with the status.
  say "$i" set 15003 1
  say "$i" status 64 "przy biurku"
done
for i in 0 1 2; do wait_served "$i" "${NAMES[$i]}" || fail "bridge $i never served ${NAMES[$i]}"; done

# Status: ALPHA and BRAVO add each other and see each other available.
say 0 add BRAVO
say 1 add ALPHA
say 1 add CHARLIE
wait_for 0 'e["event"] == "contact-status" and e.get("contact") and e.get("status") == 64' \
  && pass "ALPHA sees BRAVO's status" || fail "ALPHA never saw BRAVO's status"
wait_for 1 'e["event"] == "contact-status" and e.get("status") == 64' \
  && pass "BRAVO sees a status" || fail "BRAVO never saw a status"
say 0 contacts
wait_for 0 'e["event"] == "contacts" and any(c["computer"] == "BRAVO" and c["status"] == 64 for c in e["contacts"])' \
  && pass "ALPHA's contact list shows BRAVO available" || fail "ALPHA's contact list lacks BRAVO available"

# Chat: ALPHA -> BRAVO; delivered, shown, acknowledged.
say 0 send BRAVO "Cześć z sieci"
wait_for 0 'e["event"] == "send-result" and e.get("sent") in (1, True)' \
  && pass "ALPHA's send to BRAVO succeeded" || fail "ALPHA's send to BRAVO failed"
wait_for 1 'e["event"] == "message" and e.get("from") == "ALPHA" and "Cześć z sieci" in e.get("body", "")' \
  && pass "BRAVO received ALPHA's message" || fail "BRAVO did not receive ALPHA's message"
say 1 send ALPHA "I nawzajem"
wait_for 0 'e["event"] == "message" and e.get("from") == "BRAVO" and "I nawzajem" in e.get("body", "")' \
  && pass "ALPHA received BRAVO's reply" || fail "ALPHA did not receive BRAVO's reply"

# WinPopup: CHARLIE is no contact of ALPHA, so with emulation on the
# message goes in the WinPopup form to CHARLIE's messenger slot.
say 0 send CHARLIE "Stara szkoła"
wait_for 2 'e["event"] == "message" and e.get("from") == "ALPHA" and "Stara szkoła" in e.get("body", "")' \
  && pass "CHARLIE received a WinPopup message from ALPHA" || fail "CHARLIE did not receive the WinPopup message"

# Search: BRAVO asks everybody; ALPHA and CHARLIE answer.
say 1 search
wait_for 1 'e["event"] == "found-contact" and "ALPHA" in json.dumps(e)' \
  && pass "BRAVO's search found ALPHA" || fail "BRAVO's search did not find ALPHA"

# The network neighbourhood: BRAVO's bridge has heard of ALPHA.
grep -q " ALPHA " "$WORK/lan1/.bridge-neighbours" 2>/dev/null \
  && pass "BRAVO's neighbourhood lists ALPHA" || fail "BRAVO's neighbourhood file lacks ALPHA"

# Stopping BRAVO's bridge releases its names: ALPHA's sends fail cleanly.
kill -TERM "${BRIDGE_PID[1]}"
wait "${BRIDGE_PID[1]}" 2>/dev/null
grep -q "releasing" "$WORK/bridge1.log" && pass "BRAVO's bridge released its names" || fail "BRAVO's bridge did not say it released its names"
sleep 0.5
say 0 send BRAVO "Jesteś tam?"
wait_for 0 'e["event"] == "send-result" and e.get("sent") in (0, False)' \
  && pass "a send to BRAVO after its bridge stopped fails" || fail "a send to BRAVO after its bridge stopped did not fail"

# Acknowledgements: ALPHA's first message was acknowledged, so no notice
# ever called it lost (the send to the stopped BRAVO is the only one that may).
none_of 0 'e["event"] == "message" and "Cześć z sieci" in e.get("body", "") and "prawdopodobnie" in e.get("body", "")' \
  && pass "ALPHA's message to BRAVO was not reported lost" || fail "ALPHA's message to BRAVO was reported lost"

for i in 0 1 2; do say "$i" quit; done
sleep 1
kill -TERM "${BRIDGE_PID[0]}" $(ip netns pids "${TAG}n2") 2>/dev/null
sleep 0.5

# The capture, read by tshark's own dissectors.
if [ -z "$TSHARK" ]; then
  fail "tshark is not installed: the capture could not be checked (tools/install-deps.sh installs it)"
else
  sleep 1
  for pid in "${PIDS[@]}"; do :; done
  kill -INT "${PIDS[0]}" 2>/dev/null
  wait "${PIDS[0]}" 2>/dev/null
  CHECK=$(python3 - "$TSHARK" "$CAPTURE" <<'PY'
import subprocess, sys
tshark, capture = sys.argv[1], sys.argv[2]
def fields(filter_, *names):
    out = subprocess.run([tshark, "-r", capture, "-Y", filter_, "-T", "fields", "-E", "separator=|"] +
                         sum([["-e", n] for n in names], []), capture_output=True, text=True).stdout
    return [line.split("|") for line in out.splitlines() if line]
problems = []
malformed = fields("_ws.malformed || _ws.expert.severity >= 8388608", "frame.number", "frame.protocols")
for f in malformed:
    problems.append("frame %s is malformed (%s)" % (f[0], f[1]))
dgrams = fields("udp.port == 138", "frame.number", "nbdgm.type", "smb.cmd", "mailslot.opcode",
                "mailslot.class", "nbdgm.dgram_len", "udp.length", "mailslot.name")
for f in dgrams:
    n, kind, cmd, opcode, klass, dlen, ulen, name = f
    if not kind:
        problems.append("frame %s on UDP 138 is no NetBIOS datagram" % n); continue
    if opcode != "1" or klass != "2":
        problems.append("frame %s: mailslot opcode %r class %r" % (n, opcode, klass))
    if not dlen or int(dlen) != int(ulen) - 22:
        problems.append("frame %s: dgram_len %s, udp.length %s" % (n, dlen, ulen))
names = fields("nbns", "frame.number")
messngr = [f for f in dgrams if f[7].upper() == "\\MAILSLOT\\MESSNGR"]
acks = fields('udp.port == 138 && frame contains "MESSAGEACK"', "frame.number")
print("datagrams=%d nbns=%d messngr=%d acks=%d" % (len(dgrams), len(names), len(messngr), len(acks)))
if not dgrams: problems.append("no datagram was captured")
if not names: problems.append("no name service packet was captured")
if not messngr: problems.append("no \\MAILSLOT\\MESSNGR datagram was captured")
if not acks: problems.append("no MESSAGEACK datagram was captured")
for p in problems[:20]: print("problem: " + p)
sys.exit(1 if problems else 0)
PY
  )
  status=$?
  echo "$CHECK" | sed 's/^/  /'
  [ $status = 0 ] && pass "tshark: every datagram dissects cleanly, class 2, opcode 1, dgram_len = udp.length - 22" \
    || fail "tshark found problems in the capture"
fi

if [ "$FAILED" = 0 ]; then echo "netns-test: passed"; else echo "netns-test: FAILED"; fi
exit "$FAILED"
