#!/usr/bin/env python3
"""Fails on a bare host number: the host's numbers are named once, in abi/.

The host's message ids, columns, items, icons, control styles, answers and
record values are named in the headers of NAMED_IN; every other file of the
folders in SCANNED uses the names. Each integer literal outside comments,
strings and character literals is a bare host number when
  1. its value is one that NAMED_IN names and is at least SMALLEST
     (smaller values, 0 to 99, are counts, sizes, indices and field
     positions as often as host numbers: they would only cry wolf), or
  2. it is a hexadecimal literal of at least 0x10000 that is not a mask of
     low bits (0xFF..F): the host's styles, icon ids and item bases are
     large hexadecimal words, masks and system values are not, or
  3. whatever its size, it is compared (==, !=, ===, !==) with something
     whose name ends in column, status, kind, style, type or gender, and its
     value is one NAMED_IN names: "c.status === 0" is kStatusOffline, or
  4. it is the value of a constant or enumerator that takes a name NAMED_IN
     already gives (a second kControlCheckBox = 0x06).
A line whose number equals a host number by chance (a buffer of 200 bytes is
no host message 200) says so with the comment "not a host number" on it or
in the comment right above it.

The folders and the file types are the table SCANNED below: the plug-in's
folders, the stand-in host and its web page's scripts (which import the
names from the module the build writes from NAMED_IN,
cmake/js_host_ids.cmake); comments and strings are read the same in C++
and JavaScript.
   tools/check-host-numbers.py [root]
"""
import os
import re
import sys

# Folder (relative to the root) -> the file types checked in it.
SCANNED = {
    "base": (".h", ".cpp"),
    "transport": (".h", ".cpp"),
    "search": (".h", ".cpp"),
    "protocol": (".h", ".cpp"),
    "shell": (".h", ".cpp"),
    "host": (".h", ".cpp"),
    "host/web/page": (".js",),
}
# The one place that names the host's numbers; never scanned.
NAMED_IN = ["abi/host_ids.h", "abi/host_records.h"]
SMALLEST = 100
FIRST_LARGE_HEX = 0x10000
ALLOWED_MARK = "not a host number"

CONSTANT = re.compile(r"\bconstexpr\s+[\w:]+\s+(\w+)\s*=\s*([^;]+);")
NUMBER = r"(?:0[xX][0-9a-fA-F']+|[0-9][0-9']*)"
OPERAND = r"[A-Za-z_][\w.]*"
COMPARED = re.compile(rf"\b({OPERAND})\s*(?:===?|!==?)\s*-?({NUMBER})(?![\w.])"
                      rf"|(?<![\w.])-?({NUMBER})\s*(?:===?|!==?)\s*({OPERAND})")
TELLING = re.compile(r"(column|status|kind|style|type|gender)$", re.IGNORECASE)
REDEFINED = re.compile(rf"\b(k[A-Z]\w*|NET_[A-Z]\w*)\s*=\s*-?{NUMBER}(?![\w.])")
LITERAL = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F']+|[0-9][0-9']*)([uUlL]*)(?![\w.])")


def literal_value(text):
    text = text.replace("'", "")
    return int(text, 16) if text[:2].lower() == "0x" else int(text, 10)


def named_values(root):
    """Value -> the names that hold it, from the constants of NAMED_IN (the
    names themselves are the keys of NAMES)."""
    known = {"ControlStyle": lambda kind, options=0: (kind << 16) | options}
    values = {}
    for rel in NAMED_IN:
        with open(os.path.join(root, rel), encoding="utf-8") as f:
            code = blank_comments_and_strings(f.read())
        for name, expression in CONSTANT.findall(code):
            expression = LITERAL.sub(lambda m: str(literal_value(m.group(1))), expression)
            expression = re.sub(r"static_cast<[^>]*>|sizeof\([^)]*\)", "", expression)
            try:
                value = eval(expression, {"__builtins__": {}}, known)  # noqa: S307
            except Exception:  # a record or a text: no number to look for
                continue
            if isinstance(value, int):
                known[name] = value
                values.setdefault(value, []).append(name)
                NAMES.add(name)
    return values


NAMES = set()


def blank_comments_and_strings(code):
    """The code with comments, strings and character literals blanked (line
    breaks kept, so line numbers stay)."""
    out = []
    i, n = 0, len(code)
    while i < n:
        c = code[i]
        two = code[i:i + 2]
        if two == "//":
            end = code.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif two == "/*":
            end = code.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", code[i:end]))
            i = end
        elif c in "\"'`":
            j = i + 1
            while j < n and code[j] != c:
                j += 2 if code[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + re.sub(r"[^\n]", " ", code[i + 1:j - 1]) + c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def is_low_mask(value):
    return value & (value + 1) == 0


def marked(lines, index):
    """Whether line `index` says its number is no host number: on the line
    itself or in the comment lines right above it."""
    if ALLOWED_MARK in lines[index]:
        return True
    above = index - 1
    while above >= 0 and lines[above].lstrip().startswith("//"):
        if ALLOWED_MARK in lines[above]:
            return True
        above -= 1
    return False


def problems_in(path, rel, values):
    with open(path, encoding="utf-8", errors="replace") as f:
        original = f.read()
    lines = original.split("\n")
    found = []
    for number, line in enumerate(blank_comments_and_strings(original).split("\n"), 1):
        if line.lstrip().startswith("#include") or marked(lines, number - 1):
            continue
        for m in LITERAL.finditer(line):
            text = m.group(1)
            value = literal_value(text)
            if value >= SMALLEST and value in values:
                found.append(f"{rel}:{number}: {text} is {' or '.join(values[value])}")
            elif text[:2].lower() == "0x" and value >= FIRST_LARGE_HEX and not is_low_mask(value):
                found.append(f"{rel}:{number}: {text}: a host word (style, icon or item id) "
                             f"belongs in {NAMED_IN[0]}")
        for m in COMPARED.finditer(line):
            operand = m.group(1) or m.group(4)
            text = m.group(2) or m.group(3)
            value = literal_value(text)
            if TELLING.search(operand.split(".")[-1]) and value < SMALLEST and value in values:
                found.append(f"{rel}:{number}: {operand} compared with {text}, which is "
                             f"{' or '.join(values[value])}")
        for m in REDEFINED.finditer(line):
            if m.group(1) in NAMES:
                found.append(f"{rel}:{number}: {m.group(1)} is named in {NAMED_IN[0]} already")
    return found


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), ".."))
    values = named_values(root)
    if len(values) < 50:
        print(f"check-host-numbers: only {len(values)} named values read from {NAMED_IN}",
              file=sys.stderr)
        return 1
    problems = []
    for folder, extensions in SCANNED.items():
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith(extensions):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                if rel in NAMED_IN:
                    continue
                problems += problems_in(path, rel, values)
    for p in problems:
        print(p)
    if problems:
        print(f"check-host-numbers: {len(problems)} bare host number(s); name them in "
              f"{NAMED_IN[0]}", file=sys.stderr)
        return 1
    print(f"check-host-numbers: no bare host number in {', '.join(SCANNED)} "
          f"({len(values)} named values)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
