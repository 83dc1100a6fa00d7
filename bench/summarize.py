#!/usr/bin/env python3
"""Prints the figures of one bench/run-benchmarks.sh run beside their
baselines, as ratios: summarize.py RESULTS_DIR."""
import json
import os
import sys

results = sys.argv[1]


def benchmarks(name):
    """run name -> the median of the repetitions (or the single run)."""
    path = os.path.join(results, name + ".json")
    if not os.path.exists(path):
        return {}
    runs = {}
    for b in json.load(open(path))["benchmarks"]:
        # One-shot runs carry their iteration and repetition counts in the name.
        b["run_name"] = b["run_name"].split("/iterations:")[0]
        if b.get("error_occurred"):
            runs[b["run_name"]] = {"error": b.get("error_message", "error")}
            continue
        kind = b.get("aggregate_name")
        if kind is None and b["run_name"] not in runs:
            runs[b["run_name"]] = b
        elif kind == "median":
            runs[b["run_name"]] = b
    return runs


def ns(run):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run["time_unit"]]
    return run["cpu_time"] * scale


def figures(name):
    """'name value unit' lines of an e2e_bench output."""
    out = {}
    path = os.path.join(results, name + ".txt")
    if not os.path.exists(path):
        return out
    for line in open(path):
        parts = line.rsplit(None, 2)
        if len(parts) == 3:
            try:
                out[parts[0].strip()] = float(parts[1])
            except ValueError:
                pass
    return out


def ratio(value, base):
    return "%.2f" % (value / base) if base else "-"


print(open(os.path.join(results, "machine.txt")).read())

codec = benchmarks("codec")
if codec:
    print("Codec and send path (CPU time; ratio to the baseline of its row group)")
    for size in ("64", "4000"):
        copy = codec.get("BM_CopyBytes/" + size)
        raw = codec.get("BM_RawSocketSend/" + size)
        best = codec.get("BM_Sendto/" + size)
        for name, base in (("BM_CopyBytes", copy), ("BM_BuildDatagram", copy), ("BM_SplitFields", copy),
                           ("BM_Sendto", best), ("BM_RawSocketSend", best), ("BM_SlotSend", best)):
            run = codec.get(name + "/" + size)
            if run and "error" not in run and base and "error" not in base:
                fresh = ""
                if name in ("BM_Sendto", "BM_RawSocketSend", "BM_SlotSend") and raw and "error" not in raw:
                    fresh = "  (x%s a fresh socket)" % ratio(ns(run), ns(raw))
                print("  %-22s %5s B  %10.1f ns  x%s%s" % (name, size, ns(run), ratio(ns(run), ns(base)), fresh))
    print()

engine = benchmarks("engine")
if engine:
    raw = engine.get("BM_RawRecv")
    print("Receive path, per datagram (CPU time; ratio to the raw recv loop)")
    for name in ("BM_RawRecv", "BM_ReceiveStatus", "BM_ReceiveMessage"):
        run = engine.get(name)
        if not run or "error" in run:
            print("  %-20s %s" % (name, run.get("error") if run else "missing"))
            continue
        per = ns(run) / 10
        print("  %-20s %9.2f us  %9.0f datagrams/s  x%s" % (name, per / 1e3, 1e9 / per,
                                                        ratio(ns(run), ns(raw)) if raw and "error" not in raw else "-"))
    print()
    print("Fan-out, per receiver (CPU time; ratio to sendto on one long-lived socket, to sendmmsg,")
    print("and to a fresh socket per receiver)")
    for count in ("10", "100", "1000"):
        def per(name):
            run = engine.get(name + "/" + count)
            return run["per_receiver"] * 1e6 if run and "error" not in run else 0
        for name in ("BM_SendtoFanOut", "BM_SendmmsgFanOut", "BM_RawFanOut", "BM_FanOutContacts",
                     "BM_FanOutWorkgroup"):
            run = engine.get(name + "/" + count)
            if not run or "error" in run:
                print("  %-20s %5s  %s" % (name, count, run.get("error") if run else "missing"))
                continue
            print("  %-20s %5s  %8.2f us  x%s sendto  x%s sendmmsg  x%s fresh" %
                  (name, count, per(name), ratio(per(name), per("BM_SendtoFanOut")),
                   ratio(per(name), per("BM_SendmmsgFanOut")), ratio(per(name), per("BM_RawFanOut"))))
    print()
    group = engine.get("BM_WalkWorkgroup")
    root = engine.get("BM_WalkRoot")
    if group and root and "error" not in group and "error" not in root:
        g = group["per_computer"] * 1e6
        r = root["per_computer"] * 1e6
        print("Network walk, per computer found (CPU time)")
        print("  workgroup G1000 %8.2f us   root (1112 computers) %8.2f us  x%s" % (g, r, ratio(r, g)))
        print()
    senders = engine.get("BM_MemoryDistinctSenders")
    messages = engine.get("BM_Memory100kMessages")
    print("Engine memory (in process, counting host)")
    if senders and "error" not in senders:
        print("  %d distinct senders: %.1f heap bytes and %.1f RSS bytes per sender" %
              (senders["senders"], senders["heap_per_sender"], senders["rss_per_sender"]))
    if messages and "error" not in messages:
        print("  %d messages: heap grew %.0f bytes, RSS %.0f bytes" %
              (messages["messages"], messages["heap_growth"], messages["rss_growth"]))
    print()

cross = benchmarks("cross")
if cross:
    def cpu(name):
        run = cross.get(name)
        return ns(run) / 8 if run and "error" not in run else 0
    def receiver(name):
        run = cross.get(name)
        return run.get("receiver_ns", 0) if run and "error" not in run else 0
    print("Between two processes, per 64-byte datagram")
    print("  send (sender's CPU; ratio to sendto on a long-lived socket, to sendmmsg, to a fresh socket)")
    for name in ("BM_CrossSendto", "BM_CrossSendmmsg", "BM_CrossFreshSocket", "BM_CrossSlotSend"):
        print("    %-22s %8.0f ns  x%s sendto  x%s sendmmsg  x%s fresh" %
              (name, cpu(name), ratio(cpu(name), cpu("BM_CrossSendto")),
               ratio(cpu(name), cpu("BM_CrossSendmmsg")), ratio(cpu(name), cpu("BM_CrossFreshSocket"))))
    print("  receive (receiving process's CPU; ratio to a recv loop and to recvmmsg)")
    for name in ("BM_CrossRecv", "BM_CrossRecvmmsg", "BM_CrossSlotReceive"):
        print("    %-22s %8.0f ns  x%s recv  x%s recvmmsg" %
              (name, receiver(name), ratio(receiver(name), receiver("BM_CrossRecv")),
               ratio(receiver(name), receiver("BM_CrossRecvmmsg"))))
    print()

chat = figures("chat")
if chat:
    print("Two vask-host processes (ratio to the raw pair of processes)")
    for key, raw in (("vask latency median", "raw latency (round trip / 2) median"),
                     ("vask latency p99", "raw latency (round trip / 2) p99")):
        print("  %-40s %10.3f ms  raw %8.3f ms  x%s" % (key, chat.get(key, 0), chat.get(raw, 0),
                                                     ratio(chat.get(key, 0), chat.get(raw, 0))))
    print("  %-40s %10.3f ms" % ("vask latency min", chat.get("vask latency min", 0)))
    raw = chat.get("raw throughput acknowledged per second", 0)
    for key in ("vask throughput sent per second", "vask throughput delivered per second"):
        print("  %-40s %10.0f /s  raw %8.0f /s  x%s" % (key, chat.get(key, 0), raw, ratio(chat.get(key, 0), raw)))
    print()

idle = figures("idle")
if idle:
    print("Idle for %.0f s (ratio to a process polling a socket every 250 ms)" % idle.get("idle seconds", 0))
    print("  CPU  vask-host %8.3f ms  baseline %8.3f ms  x%s" %
          (idle.get("vask idle cpu", 0), idle.get("baseline idle cpu", 0),
           ratio(idle.get("vask idle cpu", 0), idle.get("baseline idle cpu", 0))))
    print("  RSS  vask-host %8.0f KiB baseline %8.0f KiB x%s (growth over the run: %.0f KiB)" %
          (idle.get("vask idle rss at end", 0), idle.get("baseline idle rss", 0),
           ratio(idle.get("vask idle rss at end", 0), idle.get("baseline idle rss", 0)),
           idle.get("vask idle rss at end", 0) - idle.get("vask idle rss at start", 0)))
    print()

memory = figures("memory")
if memory:
    print("vask-host with a profile file (RSS)")
    print("  at start %.0f KiB; after %.0f senders %.0f KiB (%.0f bytes per sender); after %.0f messages %.0f KiB (peak %.0f KiB)" %
          (memory.get("host rss at start", 0), memory.get("host senders", 0), memory.get("host rss after the senders", 0),
           memory.get("host rss per sender", 0), memory.get("host messages", 0),
           memory.get("host rss after the messages", 0), memory.get("host rss peak", 0)))
    quarters = ["%s: %.0f KiB" % (key[len("host anon rss after "):], value) for key, value in memory.items()
                if key.startswith("host anon rss after ") and key.endswith(" messages") and "the" not in key]
    print("  anonymous RSS (heap) after " + ", ".join(quarters))
    print("  profile file %.0f KiB" % memory.get("host profile size", 0))
