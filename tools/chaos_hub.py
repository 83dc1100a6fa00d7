#!/usr/bin/env python3
"""A lossy Ethernet hub in user space, for tools/chaos-soak.sh.

Run as root inside the hub namespace with the names of its ports (veth ends
that belong to no Linux bridge). Every frame that comes in on one port goes
out on all the others, as a hub's would. NetBIOS frames (UDP 137 and 138)
and the messenger's own frames (UDP 41925) are treated badly on purpose,
decided per frame and output port by a random generator with a fixed seed:
dropped (--drop), sent twice (--dup), or held back --delay-ms so that later
frames overtake them (--reorder). Everything else (ARP above all) passes
untouched.

    chaos_hub.py --seed 1 --drop 0.10 --dup 0.05 --reorder 0.25 h0 h1 h2

On SIGTERM or SIGINT it prints its tally (frames seen, dropped, doubled,
delayed) on one line and ends.
"""

import argparse
import heapq
import random
import select
import signal
import socket
import struct
import sys
import time

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4


# NetBIOS names and datagrams, and the messenger's own UDP frames, which a
# bridge sends for copies that speak mailslots only.
DISTURBED = (137, 138, 41925)


def netbios_udp(frame):
    """The offset of the UDP header of an IPv4 UDP frame to a disturbed port, else None."""
    if len(frame) < 14 + 20 + 8 or frame[12:14] != b"\x08\x00":
        return None
    ihl = (frame[14] & 0x0F) * 4
    if frame[14 + 9] != 17:
        return None
    udp = 14 + ihl
    if len(frame) < udp + 8:
        return None
    sport, dport = struct.unpack(">HH", frame[udp:udp + 4])
    return udp if (sport in DISTURBED or dport in DISTURBED) else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--drop", type=float, default=0.10)
    parser.add_argument("--dup", type=float, default=0.05)
    parser.add_argument("--reorder", type=float, default=0.25)
    parser.add_argument("--delay-ms", type=float, default=20.0)
    parser.add_argument("ports", nargs="+")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    sockets = {}
    for port in args.ports:
        s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
        s.bind((port, 0))
        s.setblocking(False)
        sockets[port] = s
    tally = {"seen": 0, "dropped": 0, "doubled": 0, "delayed": 0, "other": 0}
    held = []  # (due, order, port, frame)
    order = 0

    def finish(*_):
        print("hub: " + " ".join("%s=%d" % item for item in tally.items()), flush=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)

    by_fd = {s.fileno(): port for port, s in sockets.items()}
    while True:
        now = time.monotonic()
        while held and held[0][0] <= now:
            _, _, port, frame = heapq.heappop(held)
            try:
                sockets[port].send(frame)
            except OSError:
                pass
        timeout = max(0.0, held[0][0] - now) if held else 0.5
        ready, _, _ = select.select(list(sockets.values()), [], [], timeout)
        for s in ready:
            source = by_fd[s.fileno()]
            while True:
                try:
                    frame, address = s.recvfrom(65536)
                except BlockingIOError:
                    break
                if address[2] == PACKET_OUTGOING:
                    continue  # our own copy going out
                udp = netbios_udp(frame)
                if udp is not None:
                    # The sender's checksum may be left to an offload that a
                    # copy through this hub never gets: 0 means none in IPv4.
                    frame = frame[:udp + 6] + b"\x00\x00" + frame[udp + 8:]
                    tally["seen"] += 1
                else:
                    tally["other"] += 1
                for port, out in sockets.items():
                    if port == source:
                        continue
                    copies = 1
                    if udp is not None:
                        if rng.random() < args.drop:
                            tally["dropped"] += 1
                            continue
                        if rng.random() < args.dup:
                            tally["doubled"] += 1
                            copies = 2
                        if rng.random() < args.reorder:
                            tally["delayed"] += 1
                            order += 1
                            due = time.monotonic() + args.delay_ms / 1000.0
                            for _ in range(copies):
                                heapq.heappush(held, (due, order, port, frame))
                            continue
                    for _ in range(copies):
                        try:
                            out.send(frame)
                        except OSError:
                            pass


if __name__ == "__main__":
    main()
