#!/usr/bin/env python3
"""The chaos soak's driver and tally, run by tools/chaos-soak.sh (as root,
once the namespaces and the lossy hub are up).

Three computers, each a scripted vask-host (VASK_REAL_LAN=1, so it starts
its own vask-bridge) in a network namespace of its own, all contacts of
each other, send each other numbered messages from a fixed-seed schedule
while the run is disturbed by the faults named in --faults: "stop" stops
one host (SIGSTOP) for 5 s, "kill" kills one (SIGKILL) and starts it again
5 s later, "bridge" kills one bridge (SIGKILL) for its host to start again.
Afterwards every message is looked up in the hosts' event logs and counted
in exactly one row of the table:

  once          shown exactly once, sender not told of a problem
  twice         shown more than once
  told          not shown, sender told (send failed, or "likely lost")
  silent        not shown, sender never told
  sender-died   not shown, sender killed before it could be told
  shown-told    shown once, but the sender was told it was likely lost
  shown-restart shown once; its sender was killed before the answer came
                and told at its restart that it may not have arrived

and, apart from the rows, the "delivered after all" notices that no
message can account for (false-late: more of them from a peer than the
sender had messages to it that were shown and told as likely lost).

The exit status is 1 when a row named by --gate is not zero.
"""

import argparse
import json
import os
import random
import signal
import subprocess
import sys
import time

NAMES = ["ALPHA", "BRAVO", "CHARLIE"]
SEND_MESSAGE = 30100
ROWS = ["once", "twice", "told", "silent", "sender-died", "shown-told", "shown-restart"]
LATE_DELIVERY = "Wiadomość jednak została dostarczona :)"
FAULTS = ["stop", "kill", "bridge"]
# The plug-in reports an unanswered message after 10 s; then some slack.
VERDICT_SECONDS = 15


class Host:
    def __init__(self, args, index):
        self.args, self.index, self.name = args, index, NAMES[index]
        self.ns = args.namespaces[index]
        self.lan = os.path.join(args.work, "lan%d" % index)
        os.makedirs(self.lan, mode=0o700, exist_ok=True)
        self.generation = 0
        self.process = None
        self.stopped = False
        self.killed_at = []  # times it was killed
        self.sends = {}  # events file -> [message key, in order of sending]

    def events(self):
        return os.path.join(self.args.work, "events%d-%d.jsonl" % (self.index, self.generation))

    def bridge_pid(self):
        """The pid of the vask-bridge running in this host's namespace, or None."""
        out = subprocess.run(["ip", "netns", "pids", self.ns], capture_output=True, text=True).stdout
        for pid in out.split():
            try:
                with open("/proc/%s/comm" % pid) as f:
                    if f.read().strip() == "vask-bridge":
                        return int(pid)
            except OSError:
                pass
        return None

    def kill_bridge(self, sig):
        pid = self.bridge_pid()
        if pid is not None:
            os.kill(pid, sig)
        return pid

    def start(self):
        self.generation += 1
        out = open(self.events(), "w")
        err = open(os.path.join(self.args.work, "host%d-%d.log" % (self.index, self.generation)), "w")
        self.process = subprocess.Popen(
            ["ip", "netns", "exec", self.ns, "env", "VASK_REAL_LAN=1", "VASK_UDP=off",
             self.args.build + "/vask-host", "--script", "--computer", self.name, "--lan-dir",
             self.lan, "--profile", os.path.join(self.args.work, self.name + ".db")],
            stdin=subprocess.PIPE, stdout=out, stderr=err)
        self.sends[self.events()] = []
        wait_event(self.events(), lambda e: e.get("event") == "started", 20)
        self.say("set 186 1")  # the delivery notices on
        for other in NAMES:
            if other != self.name:
                self.say("add " + other)
        self.say("status 64")

    def say(self, line):
        try:
            self.process.stdin.write((line + "\n").encode())
            self.process.stdin.flush()
            return True
        except (BrokenPipeError, OSError):
            return False

    def send(self, target, text):
        if self.say("send %s %s" % (target, text)):
            self.sends[self.events()].append(text)

    def alive(self):
        return self.process is not None and self.process.poll() is None


def read_events(path):
    out = []
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                try:
                    out.append(json.loads(line))
                except ValueError:
                    pass
    except FileNotFoundError:
        pass
    return out


def wait_event(path, accept, seconds):
    until = time.time() + seconds
    while time.time() < until:
        if any(accept(e) for e in read_events(path)):
            return True
        time.sleep(0.2)
    return False


def sees_all_present(host):
    present = set()
    for e in read_events(host.events()):
        if e.get("event") == "contact-status":
            if e.get("status") == 64:
                present.add(e.get("address"))
            else:
                present.discard(e.get("address"))
    return all(n in present for n in NAMES if n != host.name)


def run(args):
    rng = random.Random(args.seed)
    hosts = [Host(args, i) for i in range(3)]
    for h in hosts:
        h.start()
    until = time.time() + 40
    while time.time() < until and not all(sees_all_present(h) for h in hosts):
        time.sleep(0.5)
    if not all(sees_all_present(h) for h in hosts):
        print("chaos-soak: the hosts never all saw each other present; going on anyway")

    messages = {}  # text -> (sender index, target index, time sent)
    start = time.time()
    d = args.duration
    # The disturbances, at fixed points of the run.
    plan = []
    if "stop" in args.faults:
        plan += [(0.25 * d, "stop", 1), (0.25 * d + 5, "cont", 1)]
    if "kill" in args.faults:
        plan += [(0.45 * d, "kill", 2), (0.45 * d + 5, "restart", 2)]
    if "bridge" in args.faults:
        plan += [(0.70 * d, "bridge", 0)]
    plan.sort()
    number = 0
    while time.time() - start < d:
        elapsed = time.time() - start
        while plan and plan[0][0] <= elapsed:
            _, what, i = plan.pop(0)
            h = hosts[i]
            print("chaos-soak: %5.1f s %s %s" % (elapsed, what, h.name), flush=True)
            if what == "stop":
                stop_tree(h, signal.SIGSTOP)
                h.stopped = True
            elif what == "cont":
                stop_tree(h, signal.SIGCONT)
                h.stopped = False
            elif what == "kill":
                stop_tree(h, signal.SIGKILL)
                h.process.wait()
                h.killed_at.append(time.time())
            elif what == "restart":
                h.start()
            elif what == "bridge":
                if h.kill_bridge(signal.SIGKILL) is None:
                    print("chaos-soak: no bridge ran beside %s" % h.name, flush=True)
        senders = [h for h in hosts if h.alive() and not h.stopped]
        if senders:
            sender = rng.choice(senders)
            target = rng.choice([i for i in range(3) if i != sender.index])
            number += 1
            text = "chaos %05d %s>%s" % (number, sender.name[0], NAMES[target][0])
            messages[text] = (sender.index, target, time.time())
            sender.send(NAMES[target], text)
        time.sleep(args.interval)
    print("chaos-soak: %d messages sent; waiting %d s for the verdicts" % (number, VERDICT_SECONDS),
          flush=True)
    time.sleep(VERDICT_SECONDS)
    for h in hosts:
        h.say("quit")
    for h in hosts:
        try:
            h.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            h.process.kill()
    for h in hosts:
        h.kill_bridge(signal.SIGTERM)
    return tally(hosts, messages)


def stop_tree(host, sig):
    """Signals the host process itself: ip netns exec and env each replace
    themselves with what they run, so the pid is vask-host's."""
    os.kill(host.process.pid, sig)


def tally(hosts, messages):
    shown = {text: 0 for text in messages}
    told = set()
    # Told by a later process of the sender: the one that sent it was
    # killed before its answer came (the notice of the next start).
    told_at_restart = set()
    late = {}  # (sender index, peer name) -> "delivered after all" notices
    bridge = {"down": 0, "up": 0}
    for h in hosts:
        for path, sent in h.sends.items():
            events = read_events(path)
            answers = [e for e in events if e.get("event") == "answer" and e.get("id") == SEND_MESSAGE]
            results = {e.get("messageId"): e.get("sent") for e in events
                       if e.get("event") == "send-result"}
            for text, answer in zip(sent, answers):
                if results.get(answer.get("messageId")) in (0, False):
                    told.add(text)
            for e in events:
                if e.get("event") == "message-box" and e.get("bridge") in bridge:
                    bridge[e["bridge"]] += 1
                if e.get("event") != "message":
                    continue
                body = e.get("body", "")
                if e.get("type") == 1 and body in shown:
                    shown[body] += 1
                elif e.get("type") == 2 and "prawdopodobnie" in body:
                    start, end = body.find('"'), body.rfind('"')
                    if 0 <= start < end:
                        text = body[start + 1:end]
                        sent_here = text in sent or messages.get(text, (h.index,))[0] != h.index
                        (told if sent_here else told_at_restart).add(text)
                elif e.get("type") == 2 and body == LATE_DELIVERY:
                    key = (h.index, e.get("from", ""))
                    late[key] = late.get(key, 0) + 1
    rows = {row: [] for row in ROWS}
    for text, (sender, _target, sent_at) in messages.items():
        n = shown[text]
        died = any(sent_at <= k <= sent_at + VERDICT_SECONDS for k in hosts[sender].killed_at)
        if n >= 2:
            row = "twice"
        elif n == 1:
            row = "shown-told" if text in told else "shown-restart" if text in told_at_restart else "once"
        elif text in told or text in told_at_restart:
            row = "told"
        else:
            row = "sender-died" if died else "silent"
        rows[row].append(text)
    # A "delivered after all" is true for a message shown but told as
    # likely lost; the notice names the peer, not the message.
    owed = {}
    for text in rows["shown-told"]:
        sender, target, _ = messages[text]
        key = (sender, NAMES[target])
        owed[key] = owed.get(key, 0) + 1
    extra = {
        "false-late": sum(max(0, n - owed.get(key, 0)) for key, n in late.items()),
        "late": sum(late.values()),
        "bridge-down": bridge["down"],
        "bridge-up": bridge["up"],
    }
    return rows, extra

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--namespaces", nargs=3, required=True)
    parser.add_argument("--duration", type=float, default=60)
    parser.add_argument("--interval", type=float, default=0.25)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--gate", default="twice,silent")
    parser.add_argument("--faults", default="stop,kill,bridge",
                        help="comma-separated, of: " + ", ".join(FAULTS) + " (empty: none)")
    parser.add_argument("--label", default="all", help="the fault class, for the summary")
    args = parser.parse_args()
    args.faults = [f for f in args.faults.split(",") if f]
    unknown = [f for f in args.faults if f not in FAULTS]
    if unknown:
        parser.error("unknown faults: " + ", ".join(unknown))
    rows, extra = run(args)
    total = sum(len(v) for v in rows.values())
    print("chaos-soak: %d messages (%s, seed %d)" % (total, args.label, args.seed))
    for row in ROWS:
        print("  %-12s %6d  %5.1f %%" % (row, len(rows[row]), 100.0 * len(rows[row]) / max(total, 1)))
    print("  %-12s %6d  (of %d \"delivered after all\")" % ("false-late", extra["false-late"],
                                                          extra["late"]))
    if "bridge" in args.faults:
        print("  bridge notices: %d gone, %d back" % (extra["bridge-down"], extra["bridge-up"]))
    summary = {"label": args.label, "seed": args.seed, "duration": args.duration, "total": total}
    summary.update({row: len(rows[row]) for row in ROWS})
    summary.update(extra)
    with open(os.path.join(args.work, "summary.json"), "w") as f:
        json.dump(summary, f)
    gated = [g for g in args.gate.split(",") if g]
    bad = [g for g in gated if rows.get(g)]
    # A killed bridge must be told of, and its return too.
    if gated and "bridge" in args.faults and not (extra["bridge-down"] and extra["bridge-up"]):
        print("chaos-soak: the host whose bridge was killed did not tell of it and its return")
        bad.append("bridge notices")
    for g in bad:
        print("chaos-soak: %s: %s" % (g, ", ".join(rows[g][:10]) + (" ..." if len(rows[g]) > 10 else "")))
    with open(os.path.join(args.work, "tally.json"), "w") as f:
        json.dump(rows, f, indent=1)
    if bad:
        print("chaos-soak: FAILED (%s not zero)" % ", ".join(bad))
        return 1
    print("chaos-soak: passed (gated: %s)" % (", ".join(gated) or "nothing"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
