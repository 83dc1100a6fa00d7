#!/usr/bin/env bash
# The bridge against an independent NetBIOS implementation, Samba's nmbd
# and nmblookup, in network namespaces on one Linux bridge:
#   ns v: vask-bridge and vask-host (ALPHA, later a host that wants SAMBA1)
#   ns s: nmbd as SAMBA1, the workgroup's local master browser
#   ns t: a second nmbd that wants the name ALPHA
# Checks that nmblookup resolves ALPHA by broadcast and unicast and lists it
# with -A; that the bridge resolves SAMBA1 and nmbd logs the datagram it
# delivers; that ALPHA's name is defended against nmbd and that a vask
# computer yields SAMBA1 to nmbd with its user told (the error box of a
# failed start, own status offline); that nmbd's browse list shows ALPHA
# as no file server with its comment, and the bridge lists SAMBA1 with
# nmbd's comment; that a stray negative registration response changes
# nothing; that `vask-bridge --stop` releases the names; and that a
# computer still online when the bridge finds its name taken has its sends
# refused with the code its host shows.
#
#   tools/samba-interop-test.sh [BUILD_DIR]     (as root; default build/linux)
#
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
# Needs Debian's samba and samba-common-bin (tools/install-deps.sh).
set -u

SCRIPT=samba-interop-test
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
netns_build_dir "${1:-}"
BRIDGE_BIN=$BUILD/vask-bridge
HOST_BIN=$BUILD/vask-host
TAG=vs$$
SUBNET=10.213.9
VASK_IP=$SUBNET.1
SAMBA_IP=$SUBNET.2
BCAST=$SUBNET.255
DEADLINE=${SAMBA_TEST_DEADLINE:-60}

netns_require
for tool in nmbd nmblookup python3; do
  command -v "$tool" >/dev/null ||
    { echo "samba-interop-test: $tool is missing (tools/install-deps.sh installs it)"; exit 1; }
done
netns_built "$BRIDGE_BIN" "$HOST_BIN" "$BUILD/libvask.so"

netns_begin vask-samba "${SAMBA_TEST_KEEP:-}"
netns_lan "$SUBNET" "${TAG}v" "${TAG}s" "${TAG}t"

# nmbd with a configuration of its own: its files stay under WORK.
start_nmbd() {  # ns name extra-lines...
  local ns=$1 name=$2 dir=$WORK/$2
  shift 2
  mkdir -p "$dir"/{lock,state,cache,private,pid,ncalrpc,log}
  {
    echo "[global]"
    echo "  netbios name = $name"
    echo "  workgroup = WORKGROUP"
    echo "  interfaces = eth0"
    echo "  bind interfaces only = yes"
    echo "  disable netbios = no"
    for d in lock state cache pid; do echo "  $d directory = $dir/$d"; done
    echo "  private dir = $dir/private"
    echo "  ncalrpc dir = $dir/ncalrpc"
    echo "  log file = $dir/log/%m.log"
    for line in "$@"; do echo "  $line"; done
  } >"$dir/smb.conf"
  ip netns exec "$ns" nmbd -F --no-process-group -s "$dir/smb.conf" -d 4 --debug-stdout \
    >"$dir/nmbd.log" 2>&1 &
  PIDS+=($!)
  NMBD_PID[$name]=$!
}

start_host() {  # fd computer
  local fd=$1 computer=$2
  mkfifo "$WORK/in-$computer"
  ip netns exec "${TAG}v" env VASK_REAL_LAN=1 VASK_UDP=off "$HOST_BIN" --script --computer "$computer" \
    --lan-dir "$WORK/lan" --profile :memory: \
    <"$WORK/in-$computer" >"$WORK/events-$computer.jsonl" 2>"$WORK/host-$computer.log" &
  PIDS+=($!)
  eval "exec $fd>\"$WORK/in-$computer\""
}

# wait_event COMPUTER PYTHON-EXPRESSION: until an event of that host, as
# the dict e, satisfies the expression (at most DEADLINE seconds).
wait_event() { wait_json "$WORK/events-$1.jsonl" "$2"; }

in_s() { ip netns exec "${TAG}s" "$@"; }
declare -A NMBD_PID

# 1. The vask machine's bridge and the Samba machine, which becomes the
# workgroup's local master browser.
mkdir -p -m 0700 "$WORK/lan"
ip netns exec "${TAG}v" "$BRIDGE_BIN" --lan-dir "$WORK/lan" --interface eth0 \
  --log "$WORK/bridge.log" &
BRIDGE_PID=$!
PIDS+=($!)
start_nmbd "${TAG}s" SAMBA1 "server string = Samba in a namespace, pokój" "local master = yes" \
  "preferred master = yes" "os level = 65" "domain master = no"
wait_grep "$WORK/bridge.log" "serving $WORK/lan" 10 || { fail "the bridge did not start"; exit 1; }
if ! wait_grep "$WORK/SAMBA1/nmbd.log" "is now a local master browser" "$DEADLINE"; then
  fail "nmbd did not become the local master browser"
  exit 1
fi

# 2. ALPHA comes online, with a comment for the browse list.
mkdir -p -m 0700 "$WORK/lan/WORKGROUP/ALPHA"
# (Windows-1250, as the host writes it: "pokój" must reach nmbd as such.)
printf 'vask test desk, pok\xf3j\n' >"$WORK/lan/WORKGROUP/ALPHA/comment"
start_host 3 ALPHA
wait_event ALPHA 'e["event"] == "started"' || fail "ALPHA's host did not start"
echo "status 64" >&3
wait_event ALPHA 'e["event"] == "own-status" and e.get("status") == 64' || fail "ALPHA did not go online"
# Its claim returns once the name is registered.
wait_grep "$WORK/bridge.log" "serving ALPHA " 10 || fail "the bridge never served ALPHA"
sleep 1

# 3. Names: nmblookup resolves ALPHA by broadcast and unicast, and lists
# the vask machine's names by address.
check "nmblookup resolves ALPHA by broadcast" \
  bash -c "ip netns exec ${TAG}s nmblookup -B $BCAST ALPHA | grep -qx '$VASK_IP ALPHA<00>'"
check "nmblookup resolves ALPHA<03> by unicast" \
  bash -c "ip netns exec ${TAG}s nmblookup -U $VASK_IP 'ALPHA#03' | grep -qx '$VASK_IP ALPHA<03>'"
in_s nmblookup -A "$VASK_IP" >"$WORK/status.txt" 2>&1
check "nmblookup -A lists ALPHA<00>, ALPHA<03> and the workgroup" \
  bash -c "grep -Eq '^\s+ALPHA +<00> - +B <ACTIVE>' $WORK/status.txt &&
           grep -Eq '^\s+ALPHA +<03> - +B <ACTIVE>' $WORK/status.txt &&
           grep -Eq '^\s+WORKGROUP +<00> - <GROUP> B <ACTIVE>' $WORK/status.txt"

# A node status question sent to the vask machine's own address with the
# broadcast flag set (as some tools send it) is answered, as nmbd does.
check "a unicast node status question with the broadcast flag is answered" \
  in_s python3 - "$VASK_IP" <<'PY'
import socket, struct, sys
star = bytes([32]) + b"CK" + b"AA" * 15 + b"\0"
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(2)
s.sendto(struct.pack(">HHHHHH", 0x5151, 0x0010, 1, 0, 0, 0) + star + struct.pack(">HH", 0x21, 1),
         (sys.argv[1], 137))
data = s.recvfrom(2048)[0]
sys.exit(0 if data[:2] == b"\x51\x51" and b"ALPHA" in data else 1)
PY

# 4. The bridge resolves nmbd's name, and nmbd logs the datagram.
echo "send SAMBA1 Witaj, nmbd" >&3
wait_event ALPHA 'e["event"] == "send-result" and e.get("sent") in (1, True)' \
  && pass "ALPHA's send to SAMBA1 went out" || fail "ALPHA's send to SAMBA1 failed"
# (With WinPopup emulation on, the default, a computer not known to be
# present gets the message on its messenger slot.)
check "nmbd logged ALPHA's datagram" \
  wait_grep "$WORK/SAMBA1/nmbd.log" "datagram from ALPHA<00> to SAMBA1<0[03]> IP $VASK_IP for .MAILSLOT.(VASK|MESSNGR)" 10

# 5. Browse lists: nmbd's shows ALPHA as a workstation with no server bit
# and its comment; the bridge lists SAMBA1 with the comment it announced.
# Comments travel in the OEM code page: nmbd's list (UTF-8) reads "pokój",
# and the bridge's (Windows-1250) too.
check "nmbd's browse list shows ALPHA, no file server, with its comment" \
  wait_grep "$WORK/SAMBA1/cache/browse.dat" '^"ALPHA" +40000001 "vask test desk, pokój" +"WORKGROUP"' 30
NEIGHBOUR=$(printf '^WORKGROUP SAMBA1 %s Samba%%20in%%20a%%20namespace,%%20pok\xf3j$' "$SAMBA_IP")
LC_ALL=C check "the bridge lists SAMBA1 with nmbd's comment" \
  wait_grep "$WORK/lan/.bridge-neighbours" "$NEIGHBOUR" 10

# 6. A stray negative registration response for ALPHA<00> (an id the bridge
# never used) changes nothing.
in_s python3 - "$VASK_IP" <<'PY'
import random, socket, struct, sys
def name(text, suffix):
    raw = text.encode().ljust(15, b" ") + bytes([suffix])
    return bytes([32]) + bytes(b for c in raw for b in (65 + (c >> 4), 65 + (c & 15))) + b"\0"
packet = struct.pack(">HHHHHH", random.randrange(65536), 0xAD86, 0, 1, 0, 0)
packet += name("ALPHA", 0) + struct.pack(">HHIHHI", 0x20, 1, 0, 6, 0, 0x0AD50902)
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.sendto(packet, (sys.argv[1], 137))
PY
check "ALPHA still resolves after it" \
  bash -c "ip netns exec ${TAG}s nmblookup -B $BCAST ALPHA | grep -qx '$VASK_IP ALPHA<00>'"
echo "send SAMBA1 Jeszcze raz" >&3
wait_event ALPHA 'e["event"] == "send-result" and e.get("messageId") == 2' || fail "no result for ALPHA's second send"
wait_event ALPHA 'e["event"] == "send-result" and e.get("messageId") == 2 and e.get("sent") in (1, True)' \
  && pass "ALPHA's sends still go out" || fail "ALPHA's send failed after the stray response"

# 7. Conflicts, both ways. nmbd wanting ALPHA is refused...
start_nmbd "${TAG}t" ALPHA "local master = no"
check "nmbd could not take ALPHA: the bridge defended it" \
  wait_grep "$WORK/ALPHA/nmbd.log" "Failed to register my name ALPHA<00>" 20
kill "${NMBD_PID[ALPHA]}" 2>/dev/null
check "ALPHA still resolves to the vask machine only" \
  bash -c "out=\$(ip netns exec ${TAG}s nmblookup -B $BCAST ALPHA | grep 'ALPHA<00>'); [ \"\$out\" = '$VASK_IP ALPHA<00>' ]"
# ... and a vask computer wanting SAMBA1 yields, and its user is told.
start_host 4 SAMBA1
wait_event SAMBA1 'e["event"] == "started"' || fail "the second host did not start"
echo "status 64" >&4
wait_event SAMBA1 'e["event"] == "message-box" and "slotów sieciowych" in e.get("text", "")' \
  && pass "the host wanting SAMBA1 shows the error box of a failed start" \
  || fail "the host wanting SAMBA1 was not told"
echo "contacts" >&4
wait_event SAMBA1 'e["event"] == "contacts" and e.get("ownStatus") == 0' \
  && pass "its own status stays offline" || fail "its own status went online on another machine's name"
check "the bridge says whose the name is" \
  wait_grep "$WORK/bridge.log" "the name SAMBA1<00> is in use by $SAMBA_IP" 5
check "SAMBA1 still resolves to nmbd only" \
  bash -c "out=\$(ip netns exec ${TAG}s nmblookup -B $BCAST SAMBA1 | grep 'SAMBA1<00>'); [ \"\$out\" = '$SAMBA_IP SAMBA1<00>' ]"

# 8. Stopping: vask-bridge --stop releases the names; ALPHA no longer resolves.
ip netns exec "${TAG}v" "$BRIDGE_BIN" --stop --lan-dir "$WORK/lan" >"$WORK/stop.log" 2>&1 \
  && pass "vask-bridge --stop stopped the bridge" || fail "vask-bridge --stop: $(cat "$WORK/stop.log")"
wait "$BRIDGE_PID" 2>/dev/null
check "the bridge released its names" grep -q "releasing the names" "$WORK/bridge.log"
check "the bridge counted the stray response among its drops" \
  grep -q "negative registration response to no registration of ours" "$WORK/bridge.log"
check "ALPHA is gone from nmbd's names" \
  bash -c "! ip netns exec ${TAG}s nmblookup -B $BCAST ALPHA | grep -q 'ALPHA<00>'"

# 9. While the bridge was away another machine took ALPHA. The bridge,
# started again, finds the still running ALPHA's name defended: ALPHA's
# sends fail with code 52, which its host shows.
start_nmbd "${TAG}t" ALPHA "local master = no" "netbios aliases = TANGO"
taken=0
for _ in $(seq $((DEADLINE * 2))); do
  if ip netns exec "${TAG}s" nmblookup -B "$BCAST" ALPHA 2>/dev/null | grep -q "^$SUBNET.3 ALPHA<00>"; then
    taken=1
    break
  fi
  sleep 0.5
done
[ "$taken" = 1 ] || fail "the second nmbd never took ALPHA"
ip netns exec "${TAG}v" "$BRIDGE_BIN" --lan-dir "$WORK/lan" --interface eth0 \
  --log "$WORK/bridge2.log" &
PIDS+=($!)
check "the bridge, started again, finds ALPHA defended by the other machine" \
  wait_grep "$WORK/bridge2.log" "the name ALPHA<0[03]> is in use by $SUBNET.3" 15
echo "send TANGO Czy to ja?" >&3
wait_event ALPHA 'e["event"] == "message" and "dostarczania wiadomości! [52]" in e.get("body", "")' \
  && pass "ALPHA's send fails and its host shows code 52" || fail "ALPHA's host was not told of the conflict"
check "the bridge logged the refused write" \
  wait_grep "$WORK/bridge2.log" "a write from ALPHA, whose name is in use by $SUBNET.3" 5

if [ "$FAILED" = 0 ]; then echo "samba-interop-test: passed"; else echo "samba-interop-test: FAILED"; fi
exit "$FAILED"
