#!/usr/bin/env bash
# Two machines that claim one name at the same time: two network namespaces
# on one Linux bridge, each starting a vask-bridge that serves ALPHA, both
# at once, several rounds. In each round exactly one keeps the name (a
# third namespace's broadcast query for ALPHA<00> gets one answer, from
# the lower address) and the other's log says the name is another's.
#
#   tools/netns-claim-test.sh [BUILD_DIR]      (as root; default build/linux)
#
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=netns-claim-test
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
netns_build_dir "${1:-}"
BRIDGE_BIN=$BUILD/vask-bridge
TAG=vc$$
SUBNET=10.213.11
# shellcheck disable=SC2034  # read by the waits of netns-lib.sh
DEADLINE=${NETNS_TEST_DEADLINE:-10}
ROUNDS=${NETNS_CLAIM_ROUNDS:-5}

netns_require
netns_built "$BRIDGE_BIN"
command -v python3 >/dev/null || { echo "$SCRIPT: python3 is needed to ask for the name"; exit 1; }

netns_begin vask-claim "${NETNS_TEST_KEEP:-}"
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1" "${TAG}n2"

# answers NAMESPACE NAME: the addresses that answer a broadcast query for
# NAME<00> within a second, one per line.
answers() {
  ip netns exec "$1" python3 - "$2" "$SUBNET.255" <<'PY'
import socket, struct, sys, time
name, broadcast = sys.argv[1].upper(), sys.argv[2]
raw = name.ljust(15).encode()[:15] + b"\x00"
encoded = bytes([32]) + bytes(b for c in raw for b in (65 + (c >> 4), 65 + (c & 15))) + b"\x00"
query = struct.pack(">HHHHHH", 0x4242, 0x0110, 1, 0, 0, 0) + encoded + struct.pack(">HH", 0x20, 1)
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.settimeout(0.2)
found = set()
end = time.time() + 1.0
for _ in range(3):
    s.sendto(query, (broadcast, 137))
    while time.time() < end:
        try:
            data, (ip, _) = s.recvfrom(2048)
        except socket.timeout:
            break
        if len(data) >= 62 and data[:2] == b"\x42\x42" and data[2] & 0x80 and data[3] & 0x0F == 0:
            found.add(socket.inet_ntoa(data[-4:]))
for ip in sorted(found):
    print(ip)
PY
}

for round in $(seq "$ROUNDS"); do
  pids=()
  for i in 0 1; do
    mkdir -p -m 0700 "$WORK/lan$round-$i"
    ip netns exec "${TAG}n$i" "$BRIDGE_BIN" --lan-dir "$WORK/lan$round-$i" --interface eth0 \
      --computer ALPHA >"$WORK/bridge$round-$i.log" 2>&1 &
    pids+=($!)
    PIDS+=($!)
  done
  # Both have registered (or yielded) within a second; then ask.
  for i in 0 1; do wait_grep "$WORK/bridge$round-$i.log" "serving ALPHA " 5 >/dev/null; done
  sleep 1.2
  got=$(answers "${TAG}n2" ALPHA | tr '\n' ' ')
  # The yielding bridge says so once its claim's defence is in; on a loaded
  # machine that may come after the fixed wait above.
  wait_grep "$WORK/bridge$round-1.log" "ALPHA<00> is in use by" 5 >/dev/null || true
  yielded=$(grep -l "ALPHA<00> is in use by\|ALPHA<00> is claimed at the same time" \
    "$WORK/bridge$round-0.log" "$WORK/bridge$round-1.log" 2>/dev/null | wc -l)
  if [ "$got" = "$SUBNET.1 " ] && [ "$yielded" = 1 ] &&
    grep -q "in use by $SUBNET.1" "$WORK/bridge$round-1.log"; then
    pass "round $round: only $SUBNET.1 holds ALPHA; $SUBNET.2 yielded and said so"
  else
    fail "round $round: ALPHA answered by [${got% }], $yielded bridge(s) yielded"
  fi
  kill -TERM "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
done

if [ "$FAILED" = 0 ]; then echo "$SCRIPT: passed"; else echo "$SCRIPT: FAILED"; fi
exit "$FAILED"
