#!/usr/bin/env bash
# The chaos soak: three computers (network namespaces, each with its own
# vask-bridge and scripted vask-host) on a lossy user-space hub
# (tools/chaos_hub.py: NetBIOS frames dropped 10 %, doubled 5 %, a quarter
# held back 20 ms so that later ones overtake them; fixed seeds) send each
# other numbered messages while one host is stopped for 5 s, one is killed
# and started again and one bridge is restarted. tools/chaos_soak.py then
# counts every message from the hosts' event logs and prints the table.
#
#   tools/chaos-soak.sh [BUILD_DIR]      (as root; default build/linux)
#
# CHAOS_DURATION   seconds of sending (default 60: the CI run, about 2 min
#                  in all); CHAOS_SEED the seed of the schedule and the hub;
# CHAOS_GATE       the rows that must be zero (default "twice,silent");
# CHAOS_KEEP       keep the logs even when the run passes.
# docs/chaos-soak.md says what the rows mean and how to run it long.
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=chaos-soak
# shellcheck source=tools/netns-lib.sh
. "$(dirname "$0")/netns-lib.sh"
netns_build_dir "${1:-}"
TAG=vk$$
HUB=${TAG}hub
SUBNET=10.213.13
# shellcheck disable=SC2034  # read by the waits of netns-lib.sh
DEADLINE=30
TOOLS=$(cd "$(dirname "$0")" && pwd)

netns_require
netns_built "$BUILD/vask-bridge" "$BUILD/vask-host" "$BUILD/libvask.so"
command -v python3 >/dev/null || { echo "$SCRIPT: python3 is needed"; exit 1; }

netns_begin vask-chaos "${CHAOS_KEEP:-}"
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1" "${TAG}n2"
# The hub takes the Linux bridge's place: its ports leave br0.
for i in 0 1 2; do ip -n "$HUB" link set "h$i" nomaster; done
ip -n "$HUB" link set br0 down
ip netns exec "$HUB" python3 "$TOOLS/chaos_hub.py" --seed "${CHAOS_SEED:-1}" h0 h1 h2 \
  >"$WORK/hub.log" 2>&1 &
HUB_PID=$!
PIDS+=("$HUB_PID")
sleep 0.5
kill -0 "$HUB_PID" 2>/dev/null || { cat "$WORK/hub.log"; fail "the hub did not start"; exit 1; }

python3 "$TOOLS/chaos_soak.py" --build "$BUILD" --work "$WORK" \
  --namespaces "${TAG}n0" "${TAG}n1" "${TAG}n2" --duration "${CHAOS_DURATION:-60}" \
  --seed "${CHAOS_SEED:-1}" --gate "${CHAOS_GATE-twice,silent}"
status=$?
kill -TERM "$HUB_PID" 2>/dev/null
wait "$HUB_PID" 2>/dev/null
cat "$WORK/hub.log"
[ "$status" = 0 ] || FAILED=1
exit "$FAILED"
