#!/usr/bin/env python3
"""Checks the machine code of the 32-bit vask.dll without running it.

  tools/check-dll-code.py path/to/vask.dll

No machine of ours runs 32-bit x86 code, so what a host relies on is read
from the image itself (the PE headers, .eh_frame with its exception tables,
and the disassembly of i686-w64-mingw32-objdump):

 1. IMessageProc, found through the export table, leaves by `ret $0x4` on
    every path: the host calls it with the standard call convention and one
    argument, so the callee removes 4 bytes. The paths are followed from its
    entry and from its landing pads, through jumps into other code (cold
    parts, tail calls) too.
 2. IMessageProc has a catch-all handler: no exception reaches the host.
 3. Every call through the host's control object is a standard call with
    the object first. The compiler passes arguments by `mov` to the stack
    area it reserved; after a call whose callee removed N bytes it puts them
    back with `sub $N,%esp` before it next touches %esp. So each call
    `call *OFF(%R)` whose %R was loaded from an object's first word
    (`mov (%X),%R`) in one of the plug-in's own functions must
      - use a slot of abi/control_slots.h,
      - have %X stored as the first argument, at (%esp), after the table load,
      - be followed, before %esp is next touched or the flow leaves, by
        `sub $4*n,%esp`, n the service's argument count in
        abi/host_control.h (the object included); an `add $..,%esp` there,
        or nothing, is a caller that cleans up (cdecl).
    Every service of the table must be called somewhere, so a change in the
    compiler's code shape fails here instead of going unchecked.
 4. Every thread routine has a catch-all handler in its exception table.
    The routines are the plug-in's functions of the standard call with one
    argument (`@4`) whose address the code takes; the known ones must be
    among them.

3 and 4 need the symbol table; an image without it (the stripped release
copy) gets 1 and 2 only and says so. Exit status 1 on any failure.
"""

import re
import struct
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OBJDUMP = "i686-w64-mingw32-objdump"
EXPORT = "IMessageProc"
THREAD_ROUTINES = ["ReceiveLoop", "SendMessageThread", "RunSearch"]
OWN_CODE = re.compile(r"^(__ZN4vask|__ZNK4vask|_?IMessageProc)")

failures = []


def fail(text):
    failures.append(text)


# ---------------------------------------------------------------- the image


class Image:
    def __init__(self, path):
        self.data = Path(path).read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not a PE image")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        machine, nsections = struct.unpack_from("<HH", d, pe + 4)
        if machine != 0x14C:
            raise ValueError("not an i386 image")
        symtab, nsyms = struct.unpack_from("<II", d, pe + 12)
        strings = symtab + 18 * nsyms  # long section names live here
        opt_size = struct.unpack_from("<H", d, pe + 20)[0]
        opt = pe + 24
        if struct.unpack_from("<H", d, opt)[0] != 0x10B:
            raise ValueError("not a 32-bit optional header")
        self.base = struct.unpack_from("<I", d, opt + 28)[0]
        self.export_rva = struct.unpack_from("<I", d, opt + 96)[0]
        self.sections = {}
        for i in range(nsections):
            s = opt + opt_size + 40 * i
            name = d[s:s + 8].rstrip(b"\0").decode("latin-1")
            if name.startswith("/") and symtab:
                o = strings + int(name[1:])
                name = d[o:d.index(b"\0", o)].decode("latin-1")
            vsize, vaddr, rsize, rptr = struct.unpack_from("<IIII", d, s + 8)
            self.sections[name] = (self.base + vaddr, max(vsize, rsize), rptr, rsize)

    def offset(self, va):
        for start, size, rptr, rsize in self.sections.values():
            if start <= va < start + size and va - start < rsize:
                return rptr + va - start
        raise ValueError("address %#x is in no section's bytes" % va)

    def bytes_at(self, va, n):
        o = self.offset(va)
        return self.data[o:o + n]

    def cstring(self, va):
        o = self.offset(va)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def export(self, name):
        e = self.base + self.export_rva
        nfunc, nnames, funcs, names, ords = struct.unpack_from("<IIIII", self.bytes_at(e + 20, 20))
        for i in range(nnames):
            rva = struct.unpack_from("<I", self.bytes_at(self.base + names + 4 * i, 4))[0]
            if self.cstring(self.base + rva) == name:
                ordinal = struct.unpack_from("<H", self.bytes_at(self.base + ords + 2 * i, 2))[0]
                return self.base + struct.unpack_from("<I", self.bytes_at(self.base + funcs + 4 * ordinal, 4))[0]
        return None


class Reader:
    """Reads the DWARF encodings of .eh_frame and the exception tables."""

    def __init__(self, image, va):
        self.image, self.va = image, va

    def u8(self):
        v = self.image.bytes_at(self.va, 1)[0]
        self.va += 1
        return v

    def fixed(self, fmt):
        v = struct.unpack_from(fmt, self.image.bytes_at(self.va, struct.calcsize(fmt)))[0]
        self.va += struct.calcsize(fmt)
        return v

    def uleb(self):
        result = shift = 0
        while True:
            b = self.u8()
            result |= (b & 0x7F) << shift
            shift += 7
            if b < 0x80:
                return result

    def sleb(self):
        result = shift = 0
        while True:
            b = self.u8()
            result |= (b & 0x7F) << shift
            shift += 7
            if b < 0x80:
                if b & 0x40:
                    result -= 1 << shift
                return result

    def cstring(self):
        s = self.image.cstring(self.va)
        self.va += len(s) + 1
        return s

    def pointer(self, enc, raw=False):
        """The value of a pointer in encoding `enc`; `raw` leaves pc-relative
        values unapplied (a null entry of a type table is 0 raw)."""
        here = self.va
        form = enc & 0x0F
        if form == 0x0 or form == 0x3:
            v = self.fixed("<I")
        elif form == 0x1:
            v = self.uleb()
        elif form == 0x2:
            v = self.fixed("<H")
        elif form == 0x4:
            v = self.fixed("<Q")
        elif form == 0x9:
            v = self.sleb()
        elif form == 0xA:
            v = self.fixed("<h")
        elif form == 0xB:
            v = self.fixed("<i")
        elif form == 0xC:
            v = self.fixed("<q")
        else:
            raise ValueError("pointer encoding %#x" % enc)
        if raw or v == 0:
            return v
        if enc & 0x70 == 0x10:
            v += here
        elif enc & 0x70 != 0:
            raise ValueError("pointer application %#x" % enc)
        return v & 0xFFFFFFFF


def pointer_size(enc):
    return {0x0: 4, 0x2: 2, 0x3: 4, 0x4: 8, 0xA: 2, 0xB: 4, 0xC: 8}[enc & 0x0F]


class Fde:
    def __init__(self, begin, end, lsda):
        self.begin, self.end, self.lsda = begin, end, lsda


def read_fdes(image):
    start, size, _, _ = image.sections[".eh_frame"]
    cies, fdes = {}, []
    va = start
    while va < start + size:
        r = Reader(image, va)
        length = r.fixed("<I")
        if length == 0:
            break
        body = r.va
        next_va = body + length
        cie_id = r.fixed("<I")
        if cie_id == 0:
            version = r.u8()
            aug = r.cstring()
            r.uleb()
            r.sleb()
            r.u8() if version == 1 else r.uleb()
            cie = {"fde": 0, "lsda": None}
            if aug.startswith("z"):
                r.uleb()
                for c in aug[1:]:
                    if c == "P":
                        r.pointer(r.u8(), raw=True)
                    elif c == "L":
                        cie["lsda"] = r.u8()
                    elif c == "R":
                        cie["fde"] = r.u8()
            cies[va] = (aug, cie)
        else:
            aug, cie = cies[body - cie_id]
            begin = r.pointer(cie["fde"])
            length_pc = r.pointer(cie["fde"] & 0x0F)
            lsda = None
            if aug.startswith("z"):
                r.uleb()
                if cie["lsda"] is not None and cie["lsda"] != 0xFF:
                    lsda = r.pointer(cie["lsda"]) or None
            fdes.append(Fde(begin, begin + length_pc, lsda))
        va = next_va
    return fdes


def fde_of(fdes, va):
    for f in fdes:
        if f.begin <= va < f.end:
            return f
    return None


def read_lsda(image, fde):
    """The landing pads of a function and whether any handler is catch(...)."""
    r = Reader(image, fde.lsda)
    enc = r.u8()
    lpstart = fde.begin if enc == 0xFF else r.pointer(enc)
    ttype_enc = r.u8()
    ttbase = None
    if ttype_enc != 0xFF:
        off = r.uleb()
        ttbase = r.va + off
    cs_enc = r.u8()
    cs_len = r.uleb()
    cs_end = r.va + cs_len
    actions = []
    pads = []
    while r.va < cs_end:
        r.pointer(cs_enc)
        r.pointer(cs_enc)
        lp = r.pointer(cs_enc)
        action = r.uleb()
        if lp:
            pads.append(lpstart + lp)
        if action:
            actions.append(action)
    catch_all = False
    for action in set(actions):
        va = cs_end + action - 1
        while True:
            a = Reader(image, va)
            filt = a.sleb()
            here = a.va
            nxt = a.sleb()
            if filt > 0 and ttbase is not None:
                t = Reader(image, ttbase - filt * pointer_size(ttype_enc))
                if t.pointer(ttype_enc, raw=True) == 0:
                    catch_all = True
            if nxt == 0:
                break
            va = here + nxt
    return pads, catch_all


# ---------------------------------------------------------- the disassembly

LINE = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*?)\s*$")
SYMBOL = re.compile(r"^([0-9a-f]+) <(.*)>:$")
TARGET = re.compile(r"^(?:0x)?([0-9a-f]+)(?: <.*>)?$")


class Code:
    def __init__(self, path):
        out = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", "-j", ".text", path],
                             check=True, capture_output=True, text=True).stdout
        self.insns = []  # (address, mnemonic, operands)
        self.index = {}
        self.symbols = {}  # address -> name
        for line in out.splitlines():
            m = SYMBOL.match(line)
            if m:
                self.symbols[int(m.group(1), 16)] = m.group(2)
                continue
            m = LINE.match(line)
            if m and not m.group(2).startswith("(bad)"):
                self.index[int(m.group(1), 16)] = len(self.insns)
                self.insns.append((int(m.group(1), 16), m.group(2), m.group(3)))
        self.targets = set()
        for _, mnem, ops in self.insns:
            if mnem.startswith("j") and not ops.startswith("*"):
                t = TARGET.match(ops)
                if t:
                    self.targets.add(int(t.group(1), 16))
        starts = sorted(self.symbols)
        self.owner = {}
        k = -1
        for addr, _, _ in self.insns:
            while k + 1 < len(starts) and starts[k + 1] <= addr:
                k += 1
            self.owner[addr] = self.symbols[starts[k]] if k >= 0 else ""

    def at(self, va):
        i = self.index.get(va)
        return None if i is None else self.insns[i]


def is_flow(mnem):
    return mnem.startswith("j") or mnem.startswith("ret") or mnem in ("call", "calll", "leave")


def check_returns(code, fdes, image, entry):
    """Every instruction reachable from the export's entry and its landing
    pads; every `ret` among them must remove 4 bytes."""
    roots = [entry]
    fde = fde_of(fdes, entry)
    if fde is None:
        fail("%s: no unwind entry covers its address %#x" % (EXPORT, entry))
        return False, 0
    catch_all = False
    if fde.lsda:
        pads, catch_all = read_lsda(image, fde)
        roots += pads
    seen, rets, todo = set(), [], list(roots)
    while todo:
        va = todo.pop()
        while va not in seen:
            insn = code.at(va)
            if insn is None:
                fail("%s: a path runs to %#x, which is no instruction" % (EXPORT, va))
                break
            seen.add(va)
            i = code.index[va]
            addr, mnem, ops = insn
            nxt = code.insns[i + 1][0] if i + 1 < len(code.insns) else None
            if mnem.startswith("ret"):
                rets.append(addr)
                if ops != "$0x4":
                    fail("%s: returns at %#x with `%s %s`, not `ret $0x4`" % (EXPORT, addr, mnem, ops))
                break
            if mnem.startswith("j"):
                if ops.startswith("*"):
                    fail("%s: an indirect jump at %#x cannot be followed" % (EXPORT, addr))
                    break
                t = int(TARGET.match(ops).group(1), 16)
                if mnem in ("jmp", "jmpl"):
                    va = t
                    continue
                todo.append(t)
            if mnem in ("call", "calll"):
                # A call that does not return ends the function's code
                # before the next unwind entry begins.
                here = fde_of(fdes, addr)
                if nxt is None or here is None or not (here.begin <= nxt < here.end):
                    break
            va = nxt
    if not rets:
        fail("%s: no `ret` found on any path" % EXPORT)
    return catch_all, len(rets)


REG = r"%e[a-z]{2}"
# Instructions whose only register write is their last operand.
SIMPLE = re.compile(r"^(mov[lwb]?|movz[bw]l|movs[bw]l|lea|add|sub|and|or|xor|cmp|test|push[l]?|"
                    r"inc|dec|neg|not|sh[lr]|sar|set[a-z]+|cmov[a-z]+|nop[wl]?|j[a-z]+)$")
REGS = ("%eax", "%ebx", "%ecx", "%edx", "%esi", "%edi", "%ebp")
TABLE_CALL = re.compile(r"^\*(0x[0-9a-f]+)?\((" + REG + r")\)$")
TABLE_LOAD = re.compile(r"^\((" + REG + r")\),(" + REG + r")$")


def writes(ops, reg):
    """Whether an AT&T instruction's destination (its last operand) is `reg`."""
    return ops.split(",")[-1] == reg if ops else False


def touches_esp(mnem, ops):
    return "%esp" in ops or mnem.startswith("push") or mnem.startswith("pop")


def services():
    """slot offset -> (name, argument count with the object) from abi/."""
    slots = dict((m.group(1), int(m.group(2))) for m in re.finditer(
        r"kSlot(\w+)\s*=\s*(\d+)", (ROOT / "abi/control_slots.h").read_text()))
    text = (ROOT / "abi/host_control.h").read_text()
    result = {}
    for m in re.finditer(r"typedef[^;]*?\(VASK_HOST_CALL\*\s*(\w+)\)\s*\(([^;]*?)\);", text, re.S):
        name, params = m.group(1), m.group(2)
        if name in slots:
            result[4 * slots[name]] = (name, params.count(",") + 1)
    if not slots or len(result) != len(slots):
        raise ValueError("abi/host_control.h and abi/control_slots.h do not name the same services")
    return result


def check_control_calls(code):
    table = services()
    called = {}
    count = 0
    for i, (addr, mnem, ops) in enumerate(code.insns):
        if mnem not in ("call", "calll"):
            continue
        m = TABLE_CALL.match(ops)
        if not m or not OWN_CODE.match(code.owner[addr]):
            continue
        off, reg = int(m.group(1) or "0", 16), m.group(2)
        # Back to where the straight-line code leading here begins: a jump
        # target, or the end of code that does not fall through.
        j = i
        while j > 0:
            a, mn, op = code.insns[j]
            pa, pm, _ = code.insns[j - 1]
            if a in code.targets or code.owner[pa] != code.owner[addr]:
                break
            if pm in ("jmp", "jmpl") or pm.startswith("ret"):
                break
            j -= 1
        # Forward from there, which registers hold the same value: a `mov`
        # between registers copies it, any other write makes a new one.
        value = dict((r, ("entry", r)) for r in REGS)
        obj = loaded = stored = None
        for k in range(j, i):
            a, mn, op = code.insns[k]
            parts = op.split(",") if op else [""]
            dest = parts[-1]
            if mn in ("call", "calll") or not SIMPLE.match(mn):
                for r in ("%eax", "%ecx", "%edx") if mn.startswith("call") else REGS:
                    value[r] = ("clobbered", a, r)
                continue
            if mn.startswith("push"):
                stored = value.get(op, ("other", a))
            elif mn == "mov" and dest == "(%esp)":
                stored = value.get(parts[0], ("other", a))
            if dest in value and mn not in ("cmp", "test") and not mn.startswith("j"):
                t = TABLE_LOAD.match(op)
                if mn == "mov" and t and dest == reg:
                    obj, loaded = value[t.group(1)], ("write", a)
                if mn == "mov" and parts[0] in value:
                    value[dest] = value[parts[0]]
                else:
                    value[dest] = ("write", a)
        if obj is None or value[reg] != loaded:
            continue  # not a call through an object's table
        where = "%s at %#x" % (code.owner[addr], addr)
        if off not in table:
            fail("%s: a call through slot %d of an object's table, which is no service of "
                 "abi/control_slots.h" % (where, off // 4))
            continue
        name, args = table[off]
        count += 1
        called[name] = called.get(name, 0) + 1
        # The first argument, stored after the table load: the object.
        if stored != obj:
            fail("%s: %s is not called with the control object as its first argument, the "
                 "value whose first word gave the table" % (where, name))
        # After the call: the stack the callee removed is put back.
        after = None
        for a, mn, op in code.insns[i + 1:i + 12]:
            if touches_esp(mn, op) or is_flow(mn):
                after = (mn, op)
                break
        want = "$%#x,%%esp" % (4 * args)
        if after is None or after[0] != "sub" or after[1] != want:
            shown = "%s %s" % after if after else "nothing"
            fail("%s: after calling %s (%d arguments) the caller does `%s`, not `sub %s`: "
                 "the call is not a standard call" % (where, name, args, shown, want))
    for name, _ in table.values():
        if name not in called:
            fail("no call of the control object's %s found: the code's shape changed and "
                 "this check must learn it" % name)
    return count


def check_thread_routines(code, fdes, image):
    by_address = dict((a, n) for a, n in code.symbols.items()
                      if OWN_CODE.match(n) and n.endswith("@4") and "IMessageProc" not in n)
    taken = set()
    for _, mnem, ops in code.insns:
        for imm in re.findall(r"\$0x([0-9a-f]+)", ops):
            v = int(imm, 16)
            if v in by_address:
                taken.add(v)
    found = []
    for va in sorted(taken):
        name = by_address[va]
        found.append(name)
        fde = fde_of(fdes, va)
        if fde is None or fde.lsda is None or not read_lsda(image, fde)[1]:
            fail("thread routine %s has no catch-all handler: an exception would reach the "
                 "host's thread start" % name)
    for want in THREAD_ROUTINES:
        if not any(re.search(r"\d%sE" % want, n) for n in found):
            fail("thread routine %s is not among the routines whose address the code passes "
                 "on (%s)" % (want, ", ".join(found) or "none"))
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    path = sys.argv[1]
    try:
        return check(path)
    except (ValueError, KeyError, IndexError, struct.error) as error:
        print("check-dll-code: %s: cannot be read: %s" % (path, error), file=sys.stderr)
        return 1


def check(path):
    image = Image(path)
    fdes = read_fdes(image)
    code = Code(path)
    entry = image.export(EXPORT)
    if entry is None:
        fail("no export %s" % EXPORT)
    else:
        catch_all, rets = check_returns(code, fdes, image, entry)
        if not catch_all:
            fail("%s has no catch-all handler: an exception would reach the host" % EXPORT)
    report = ["%s returns with ret $0x4 and has a catch-all" % EXPORT]
    if any(OWN_CODE.match(n) for n in code.symbols.values()):
        n = check_control_calls(code)
        routines = check_thread_routines(code, fdes, image)
        report.append("%d control-object calls are standard calls" % n)
        report.append("thread routines with a catch-all: %d" % len(routines))
    else:
        report.append("no symbols: control calls and thread routines not checked "
                      "(the unstripped build checks them)")
    for f in failures:
        print("check-dll-code: %s: %s" % (path, f), file=sys.stderr)
    if failures:
        return 1
    print("check-dll-code: %s: %s" % (path, "; ".join(report)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
