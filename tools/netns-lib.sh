# shellcheck shell=bash
# Helpers shared by the tests that run vask on an emulated LAN of network
# namespaces (tools/netns-test.sh, tools/samba-interop-test.sh): sourced,
# not run. The sourcing script sets, before calling them:
#   SCRIPT    its name, for messages
#   TAG       a prefix unique to this run; the hub namespace is ${TAG}hub
#   DEADLINE  seconds that a wait lasts at most, unless told otherwise
# and the helpers keep in WORK (the run's scratch directory), PIDS (the
# processes started), NAMESPACES (the namespaces made) and FAILED.

skip() { echo "skipped: $*"; exit 0; }
fail() { echo "FAIL: $*"; FAILED=1; }
pass() { echo "ok: $*"; }
check() {  # description command...: pass when the command succeeds
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# netns_build_dir [DIR]: the absolute build directory (default
# $VASK_BUILD_DIR, else build/linux) in BUILD, or exits.
netns_build_dir() {
  # shellcheck disable=SC2034  # for the sourcing script
  BUILD=$(cd "${1:-${VASK_BUILD_DIR:-build/linux}}" 2>/dev/null && pwd) ||
    { echo "$SCRIPT: no build directory ${1:-build/linux}"; exit 1; }
}

# netns_require: skips the test where we cannot make namespaces.
netns_require() {
  [ "$(id -u)" = 0 ] || skip "making network namespaces needs root"
  command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
}

# netns_built FILE...: stops where one of the files is not built.
netns_built() {
  local f
  for f in "$@"; do
    [ -e "$f" ] || { echo "$SCRIPT: $f is not built"; exit 1; }
  done
}

# netns_begin PREFIX KEEP: makes WORK (/tmp/PREFIX.XXXXXX) and arranges the
# clean-up on exit. WORK is kept when the test failed or KEEP is not empty.
netns_begin() {
  WORK=$(mktemp -d "/tmp/$1.XXXXXX")
  NETNS_KEEP=$2
  FAILED=0
  PIDS=()
  NAMESPACES=()
  trap netns_cleanup EXIT
}

netns_cleanup() {
  local fd pid i
  # The hosts' command pipes.
  for fd in 3 4 5; do eval "exec $fd>&-" 2>/dev/null; done
  # Everything still running in our namespaces is ours (a bridge that
  # vask-host --real-lan started included).
  for pid in "${PIDS[@]}" $(netns_pids); do kill "$pid" 2>/dev/null; done
  sleep 0.5
  for pid in "${PIDS[@]}" $(netns_pids); do kill -9 "$pid" 2>/dev/null; done
  # The hub last: the others' veth pairs go with them.
  for ((i = ${#NAMESPACES[@]} - 1; i >= 0; i--)); do ip netns del "${NAMESPACES[$i]}" 2>/dev/null; done
  if [ "$FAILED" = 0 ] && [ -z "$NETNS_KEEP" ]; then rm -rf "$WORK"; else echo "$SCRIPT: logs in $WORK"; fi
}

netns_pids() {
  local ns
  for ns in "${NAMESPACES[@]}"; do ip netns pids "$ns" 2>/dev/null; done
}

# netns_lan SUBNET NAMESPACE...: a hub namespace with a Linux bridge, and
# each namespace joined to it by a veth pair (eth0 inside) with the
# addresses SUBNET.1, SUBNET.2, ... in order, broadcast SUBNET.255.
netns_lan() {
  local subnet=$1 hub=${TAG}hub err i=0 ns
  shift
  if ! err=$(ip netns add "$hub" 2>&1); then skip "cannot make network namespaces ($err)"; fi
  NAMESPACES+=("$hub")
  if ! err=$(ip -n "$hub" link add br0 type bridge 2>&1); then skip "cannot make a Linux bridge ($err)"; fi
  ip -n "$hub" link set br0 up
  ip -n "$hub" link set lo up
  for ns in "$@"; do
    ip netns add "$ns" || skip "cannot make network namespace $ns"
    NAMESPACES+=("$ns")
    ip -n "$hub" link add "h$i" type veth peer name eth0 netns "$ns" || skip "cannot make veth pairs"
    ip -n "$hub" link set "h$i" master br0 up
    ip -n "$ns" link set lo up
    i=$((i + 1))
    ip -n "$ns" addr add "$subnet.$i/24" broadcast "$subnet.255" dev eth0
    ip -n "$ns" link set eth0 up
  done
}

# wait_grep FILE PATTERN [SECONDS]: until the file has a line matching the
# extended regular expression.
wait_grep() {
  local limit=$((${3:-$DEADLINE} * 10))
  for _ in $(seq "$limit"); do
    grep -Eq "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# wait_json FILE PYTHON-EXPRESSION: until a line of the file of JSON lines
# (a host's events), as the dict e, satisfies the expression (at most
# DEADLINE seconds). The expression may use the module json.
wait_json() {
  python3 - "$1" "$2" "$DEADLINE" <<'PY'
import json, sys, time
path, expr, deadline = sys.argv[1], sys.argv[2], time.time() + float(sys.argv[3])
while time.time() < deadline:
    try:
        for line in open(path, encoding="utf-8", errors="replace"):
            try:
                e = json.loads(line)
            except ValueError:
                continue
            if eval(expr, {"json": json}, {"e": e}):
                sys.exit(0)
    except FileNotFoundError:
        pass
    time.sleep(0.2)
sys.exit(1)
PY
}
