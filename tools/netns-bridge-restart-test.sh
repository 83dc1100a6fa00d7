#!/usr/bin/env bash
# The bridge dies under a running host: two network namespaces on one Linux
# bridge, ALPHA's vask-bridge started by its vask-host --real-lan, BRAVO's
# by hand. ALPHA's bridge is killed (SIGKILL, as a crash would); ALPHA's
# host must tell its person that the network is gone, start the bridge
# again and tell that it is back, and a message must then reach BRAVO.
# BRAVO's bridge, started by hand, is stopped: its host tells, and leaves
# the restarting to whoever started it.
#
#   tools/netns-bridge-restart-test.sh [BUILD_DIR]   (as root; default build/linux)
#
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=netns-bridge-restart-test
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
netns_build_dir "${1:-}"
BRIDGE_BIN=$BUILD/vask-bridge
HOST_BIN=$BUILD/vask-host
TAG=vr$$
NAMES=(ALPHA BRAVO)
SUBNET=10.213.9
DEADLINE=${NETNS_TEST_DEADLINE:-30}

netns_require
netns_built "$BRIDGE_BIN" "$HOST_BIN" "$BUILD/libvask.so"
command -v python3 >/dev/null || { echo "$SCRIPT: python3 is needed to read the hosts' events"; exit 1; }

netns_begin vask-bridge-restart "${NETNS_TEST_KEEP:-}"
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1"

start_host() {  # index fd option...: on the real LAN (VASK_REAL_LAN=1), by the bridge alone (no UDP)
  local i=$1 fd=$2 lan=$WORK/lan$1
  shift 2
  mkfifo "$WORK/in$i"
  mkdir -p -m 0700 "$lan"
  ip netns exec "${TAG}n$i" env VASK_REAL_LAN=1 VASK_UDP=off "$HOST_BIN" --script --computer "${NAMES[$i]}" --lan-dir "$lan" \
    --profile :memory: "$@" <"$WORK/in$i" >"$WORK/events$i.jsonl" 2>"$WORK/host$i.log" &
  PIDS+=($!)
  eval "exec $fd>\"$WORK/in$i\""
}
say() { local i=$1; shift; echo "$*" >&$((3 + i)); }
wait_for() { wait_json "$WORK/events$1.jsonl" "$2"; }
# The pid of the vask-bridge running in namespace INDEX.
bridge_pid() {
  local pid
  for pid in $(ip netns pids "${TAG}n$1"); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = vask-bridge ] && { echo "$pid"; return; }
  done
}

mkdir -p -m 0700 "$WORK/lan1"
ip netns exec "${TAG}n1" "$BRIDGE_BIN" --lan-dir "$WORK/lan1" --interface eth0 \
  >>"$WORK/bridge1.log" 2>&1 &
BRAVO_BRIDGE=$!
PIDS+=("$BRAVO_BRIDGE")
sleep 0.5
start_host 0 3 --real-lan
start_host 1 4
for i in 0 1; do
  wait_for "$i" 'e["event"] == "started"' || { fail "host ${NAMES[$i]} did not start"; exit 1; }
  say "$i" status 64
done
say 0 add BRAVO
say 1 add ALPHA
wait_for 0 'e["event"] == "contact-status" and e.get("status") == 64' \
  || fail "ALPHA never saw BRAVO available"

first=$(bridge_pid 0)
[ -n "$first" ] && pass "ALPHA's host started its bridge ($first)" || { fail "no bridge runs beside ALPHA"; exit 1; }
kill -KILL "$first"
wait_for 0 'e["event"] == "message-box" and e.get("bridge") == "down" and e.get("id") == 10201 and "przestał działać" in e.get("text", "")' \
  && pass "ALPHA's person is told the bridge is gone" || fail "ALPHA's person was not told the bridge is gone"
wait_for 0 'e["event"] == "message-box" and e.get("bridge") == "up" and "znowu działa" in e.get("text", "")' \
  && pass "ALPHA's person is told the bridge is back" || fail "ALPHA's person was not told the bridge is back"
second=$(bridge_pid 0)
[ -n "$second" ] && [ "$second" != "$first" ] \
  && pass "a new bridge runs beside ALPHA ($second)" || fail "no new bridge runs beside ALPHA"
wait_grep "$WORK/lan0/.bridge.log" "serving ALPHA " || fail "the new bridge never served ALPHA"

say 0 send BRAVO "Po restarcie mostu"
wait_for 1 'e["event"] == "message" and e.get("from") == "ALPHA" and "Po restarcie mostu" in e.get("body", "")' \
  && pass "BRAVO got ALPHA's message through the new bridge" || fail "BRAVO did not get ALPHA's message after the restart"

# A bridge started by hand is told of, not restarted.
kill -TERM "$BRAVO_BRIDGE"
wait "$BRAVO_BRIDGE" 2>/dev/null
wait_for 1 'e["event"] == "message-box" and e.get("bridge") == "down"' \
  && pass "BRAVO's person is told its bridge is gone" || fail "BRAVO's person was not told its bridge is gone"
sleep 3
[ -z "$(bridge_pid 1)" ] && pass "BRAVO's host leaves a bridge started by hand alone" \
  || fail "BRAVO's host started a bridge it had not started"

for i in 0 1; do say "$i" quit; done
sleep 1
exit "$FAILED"
