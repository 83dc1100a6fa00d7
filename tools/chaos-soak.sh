#!/usr/bin/env bash
# The chaos soak: three computers (network namespaces, each with a scripted
# vask-host that starts its own vask-bridge) on a user-space hub
# (tools/chaos_hub.py) send each other numbered messages under one class of
# faults, or all of them together; tools/chaos_soak.py then counts every
# message from the hosts' event logs and prints the table.
#
#   tools/chaos-soak.sh [BUILD_DIR]      (as root; default build/linux)
#
# CHAOS_CLASS      the faults (default "all"):
#                    loss     NetBIOS frames dropped 10 %
#                    dup      doubled 5 %, a quarter held back 20 ms
#                    stop     one host stopped (SIGSTOP) for 5 s
#                    kill     one host killed (SIGKILL), started again 5 s later
#                    bridge   one bridge killed, for its host to start again
#                    all      all of these at once (the CI run)
#                    each     every class above in turn, then one table of all
# CHAOS_DURATION   seconds of sending per class (default 60: the CI run,
#                  about 2 min in all); CHAOS_SEED the seed of the schedule
#                  and the hub (default 1);
# CHAOS_GATE       the rows that must be zero (default "twice,silent");
# CHAOS_KEEP       keep the logs even when the run passes.
# docs/chaos-soak.md says what the rows mean and how to run it long.
# Prints "skipped: <reason>" and exits 0 where namespaces cannot be made.
set -u

SCRIPT=chaos-soak
TOOLS=$(cd "$(dirname "$0")" && pwd)
CLASS=${CHAOS_CLASS:-all}

if [ "$CLASS" = each ]; then
  # Each class in a run of its own (namespaces, hub and profiles fresh);
  # their summaries make one table at the end.
  SUMMARIES=$(mktemp -d /tmp/vask-chaos-each.XXXXXX)
  status=0
  for class in loss dup stop kill bridge all; do
    echo "=== chaos-soak: $class"
    CHAOS_CLASS=$class CHAOS_SUMMARY="$SUMMARIES/$class.json" "$0" "$@" || status=1
  done
  python3 - "$SUMMARIES" <<'PY'
import json, os, sys
rows = ["once", "twice", "told", "silent", "sender-died", "shown-told", "shown-restart", "false-late"]
print("chaos-soak: %-7s %5s %5s " % ("class", "seed", "sent") + " ".join("%11s" % r for r in rows))
for label in ["loss", "dup", "stop", "kill", "bridge", "all"]:
    path = os.path.join(sys.argv[1], label + ".json")
    if not os.path.exists(path):
        print("chaos-soak: %-7s (no table)" % label)
        continue
    s = json.load(open(path))
    print("chaos-soak: %-7s %5d %5d " % (label, s["seed"], s["total"]) +
          " ".join("%11d" % s[r] for r in rows))
PY
  rm -rf "$SUMMARIES"
  exit "$status"
fi

case $CLASS in
  loss) HUB_ARGS=(--drop 0.10 --dup 0 --reorder 0) FAULTS= ;;
  dup) HUB_ARGS=(--drop 0 --dup 0.05 --reorder 0.25) FAULTS= ;;
  stop | kill | bridge) HUB_ARGS=(--drop 0 --dup 0 --reorder 0) FAULTS=$CLASS ;;
  all) HUB_ARGS=(--drop 0.10 --dup 0.05 --reorder 0.25) FAULTS=stop,kill,bridge ;;
  *) echo "$SCRIPT: CHAOS_CLASS is one of loss, dup, stop, kill, bridge, all, each"; exit 1 ;;
esac

# shellcheck source=tools/netns-lib.sh
. "$TOOLS/netns-lib.sh"
netns_build_dir "${1:-}"
TAG=vk$$
HUB=${TAG}hub
SUBNET=10.213.13
# shellcheck disable=SC2034  # read by the waits of netns-lib.sh
DEADLINE=30

netns_require
netns_built "$BUILD/vask-bridge" "$BUILD/vask-host" "$BUILD/libvask.so"
command -v python3 >/dev/null || { echo "$SCRIPT: python3 is needed"; exit 1; }

netns_begin vask-chaos "${CHAOS_KEEP:-}"
netns_lan "$SUBNET" "${TAG}n0" "${TAG}n1" "${TAG}n2"
# The hub takes the Linux bridge's place: its ports leave br0.
for i in 0 1 2; do ip -n "$HUB" link set "h$i" nomaster; done
ip -n "$HUB" link set br0 down
ip netns exec "$HUB" python3 "$TOOLS/chaos_hub.py" --seed "${CHAOS_SEED:-1}" "${HUB_ARGS[@]}" \
  h0 h1 h2 >"$WORK/hub.log" 2>&1 &
HUB_PID=$!
PIDS+=("$HUB_PID")
sleep 0.5
kill -0 "$HUB_PID" 2>/dev/null || { cat "$WORK/hub.log"; fail "the hub did not start"; exit 1; }

# CHAOS_PCAP=1 records what each computer's interface carried (pcap files
# beside the logs, for tshark), to follow one message through the faults.
if [ -n "${CHAOS_PCAP:-}" ]; then
  for i in 0 1 2; do
    ip netns exec "${TAG}n$i" dumpcap -q -i eth0 -f "udp" -w "$WORK/eth$i.pcap" >/dev/null 2>&1 &
    PIDS+=("$!")
  done
  sleep 1
fi

python3 "$TOOLS/chaos_soak.py" --build "$BUILD" --work "$WORK" \
  --namespaces "${TAG}n0" "${TAG}n1" "${TAG}n2" --duration "${CHAOS_DURATION:-60}" \
  --seed "${CHAOS_SEED:-1}" --gate "${CHAOS_GATE-twice,silent}" --faults "$FAULTS" --label "$CLASS"
status=$?
kill -TERM "$HUB_PID" 2>/dev/null
wait "$HUB_PID" 2>/dev/null
cat "$WORK/hub.log"
[ -n "${CHAOS_SUMMARY:-}" ] && cp "$WORK/summary.json" "$CHAOS_SUMMARY" 2>/dev/null
[ "$status" = 0 ] || FAILED=1
exit "$FAILED"
