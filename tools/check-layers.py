#!/usr/bin/env python3
"""Fails on an #include "..." that points up the layers or across to the host.

The plug-in's layers, lowest first: platform, abi, base, transport, search,
protocol, shell. A file may include its own folder and any folder below it,
never one above. The stand-in host (host/) includes abi/, platform headers and
itself only, and nothing of the plug-in includes host/. Inside the host every
file lies in a room, and the rooms have ranks too (HOST_ROOMS): a host file
may include its own room and the rooms ranked below it; two rooms of one rank
(the terminal and the web faces) never include each other. The bridge
includes itself and the platform library's public headers only. Tests,
benchmarks, fuzz targets and tools may include anything.
   tools/check-layers.py [root]
"""
import os
import re
import sys

PLUGIN = ["platform", "abi", "base", "transport", "search", "protocol", "shell"]
RANK = {name: i for i, name in enumerate(PLUGIN)}
# Folders outside the plug-in and what each may include besides itself.
OTHERS = {"host": {"abi", "platform"}, "bridge": {"platform"}}
# The host's rooms (host/<room>/), lowest first; rooms of one rank are
# neighbours that never include each other.
HOST_ROOMS = {
    "text": 0,
    "events": 1,
    "profile": 2,
    "core": 3,
    "commands": 4,
    "terminal": 5,
    "web": 5,
    "main": 6,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of_include(path):
    head = path.split("/", 1)[0] if "/" in path else None
    if head in RANK or head in OTHERS or head in ("tests", "bench", "fuzz"):
        return head
    # A bare name ("win32.h", "bridge_link.h") is a platform header, found
    # through the platform library's include folder.
    return "platform" if head is None else head


def host_room(path):
    """The room of "host/<room>/..." (a path below the root), else None."""
    parts = path.split("/")
    return parts[1] if len(parts) > 2 and parts[0] == "host" else None


def host_problem(rel, include):
    """Why a host file may not include a host header, or None."""
    room = host_room(rel)
    if room not in HOST_ROOMS:
        return None  # said once for the file
    target = host_room(include)
    if target not in HOST_ROOMS:
        return f"host/{room}/ includes {include}, which lies in no room"
    if target == room:
        return None
    if HOST_ROOMS[target] < HOST_ROOMS[room]:
        return None
    side = "across" if HOST_ROOMS[target] == HOST_ROOMS[room] else "up"
    return f"host/{room}/ includes {include} ({side})"


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), ".."))
    problems = []
    for top in list(RANK) + list(OTHERS):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                if top == "host" and host_room(rel.replace(os.sep, "/")) not in HOST_ROOMS:
                    problems.append(f"{rel}: lies in no room of host/")
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = folder_of_include(m.group(1))
                        if target == top == "host":
                            why = host_problem(rel.replace(os.sep, "/"), m.group(1))
                            if why:
                                problems.append(f"{rel}:{number}: {why}")
                            continue
                        if target == top:
                            continue
                        if top in RANK:
                            ok = target in RANK and RANK[target] <= RANK[top]
                        else:
                            ok = target in OTHERS[top]
                        if not ok:
                            problems.append(f"{rel}:{number}: {top}/ includes {m.group(1)}")
    for p in problems:
        print(p)
    if problems:
        print(f"check-layers: {len(problems)} include(s) point up or across", file=sys.stderr)
        return 1
    print("check-layers: every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
