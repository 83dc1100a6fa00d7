#!/usr/bin/env python3
"""Draws the plug-in's icons and the settings-page picture into resources/.

Run it from anywhere: python3 tools/make_icons.py [output folder]
The .ico files it writes are committed, so the build never needs Python.
Only the standard library is used; the output is the same on every run.

Every picture is drawn once in full colour with soft edges (4x4 samples
per pixel); the 16- and 256-colour versions are that drawing cut to a hard
edge (alpha at least one half) and mapped to a palette. Each image in an
.ico file is a BMP without its file header: a BITMAPINFOHEADER of twice the
height, the palette (paletted images), the colour rows bottom-up and the
1-bit AND mask rows bottom-up, every row padded to four bytes.
"""

import math
import os
import struct
import sys

SAMPLES = 4


class Canvas:
    """An RGBA picture of floats in 0..1, composited with the over operator."""

    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [list(background) for _ in range(width * height)]

    def fill(self, inside, color, alpha=1.0):
        """Paints `color` wherever inside(x, y) holds (pixel units, y down)."""
        r, g, b = (c / 255.0 for c in color)
        step = 1.0 / SAMPLES
        for py in range(self.height):
            for px in range(self.width):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                            hits += 1
                if hits == 0:
                    continue
                a = alpha * hits / (SAMPLES * SAMPLES)
                dst = self.pixels[py * self.width + px]
                out_a = a + dst[3] * (1 - a)
                if out_a <= 0:
                    continue
                for i, c in enumerate((r, g, b)):
                    dst[i] = (c * a + dst[i] * dst[3] * (1 - a)) / out_a
                dst[3] = out_a

    def rgba8(self):
        """Rows top-down of (r, g, b, a) bytes."""
        rows = []
        for y in range(self.height):
            row = []
            for x in range(self.width):
                p = self.pixels[y * self.width + x]
                row.append(tuple(int(round(max(0.0, min(1.0, v)) * 255)) for v in p))
            rows.append(row)
        return rows


# Shapes: predicates over continuous pixel coordinates.

def disk(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, outer, inner):
    return lambda x, y: inner * inner < (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def round_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def segment(ax, ay, bx, by, half_width):
    """A thick line from a to b with round ends."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


# The pictures.

def shade(color, factor):
    return tuple(max(0, min(255, int(c * factor))) for c in color)


def status_ball(size, color, flat, flat_color):
    """A shaded ball: the common face of the status icons.

    The 16-colour version (flat) has no highlight and takes a colour of the
    16-colour palette, so it stays clean instead of turning into blotches.
    """
    c = Canvas(size, size)
    mid = size / 2.0
    r = size / 2.0 - 0.8
    base = flat_color if flat else color
    c.fill(disk(mid, mid, r), shade(base, 0.55))
    c.fill(disk(mid, mid, r - 1.0), base)
    if not flat:
        # A soft light to the upper left makes it read as a lamp.
        c.fill(disk(mid - r * 0.38, mid - r * 0.42, r * 0.24), (255, 255, 255), 0.45)
    return c


def icon_available(size=16, flat=False):
    return status_ball(size, (40, 190, 60), flat, (0, 255, 0))


def icon_offline(size=16, flat=False):
    c = status_ball(size, (160, 160, 160), flat, (192, 192, 192))
    m = size / 2.0
    c.fill(segment(m - 3.4, m + 3.4, m + 3.4, m - 3.4, 1.1), (255, 0, 0) if flat else (210, 30, 30))
    return c


def icon_be_right_back(size=16, flat=False):
    c = status_ball(size, (250, 190, 20), flat, (255, 255, 0))
    m = size / 2.0
    # Clock hands: the user is back in a moment.
    hands = (0, 0, 0) if flat else (90, 60, 0)
    c.fill(segment(m, m, m, m - 4.4, 0.8), hands)
    c.fill(segment(m, m, m + 3.2, m, 0.8), hands)
    return c


def icon_do_not_disturb(size=16, flat=False):
    c = status_ball(size, (215, 35, 35), flat, (255, 0, 0))
    m = size / 2.0
    c.fill(rect(m - 4.5, m - 1.2, m + 4.5, m + 1.2), (255, 255, 255))
    return c


def icon_auto_away(size=16, flat=False):
    c = status_ball(size, (235, 140, 20), flat, (255, 255, 0))
    m = size / 2.0
    # A crescent moon: the computer has been idle for a while.
    moon = minus(disk(m - 0.3, m + 0.2, 4.4), disk(m + 1.9, m - 1.4, 3.6))
    c.fill(moon, (0, 0, 128) if flat else (255, 245, 200))
    return c


def icon_message(size=16, flat=False):
    c = Canvas(size, size)
    outline = (0, 0, 128) if flat else (30, 80, 170)
    body = (255, 255, 255)
    bubble = round_rect(0.5, 1.5, 15.5, 11.5, 3.0)
    tail = polygon([(3.0, 10.0), (7.5, 10.0), (2.5, 15.0)])
    c.fill(union(bubble, tail), outline)
    inner = union(round_rect(1.5, 2.5, 14.5, 10.5, 2.2), polygon([(4.0, 10.2), (6.0, 10.2), (3.7, 12.8)]))
    c.fill(inner, body)
    for dot_x in (4.8, 8.0, 11.2):
        c.fill(disk(dot_x, 6.5, 1.2), outline)
    return c


def draw_computer(c, x0, y0, scale):
    """A monitor on a stand with a network line: the plug-in's mark."""
    s = scale
    frame = (70, 75, 85)
    c.fill(round_rect(x0 + 1 * s, y0 + 0.5 * s, x0 + 15 * s, y0 + 10.5 * s, 1.2 * s), frame)
    c.fill(rect(x0 + 2.3 * s, y0 + 1.8 * s, x0 + 13.7 * s, y0 + 9.2 * s), (60, 150, 230))
    # The screen's sheen, for a little depth.
    c.fill(polygon([(x0 + 2.3 * s, y0 + 1.8 * s), (x0 + 9 * s, y0 + 1.8 * s),
                    (x0 + 2.3 * s, y0 + 6.5 * s)]), (255, 255, 255), 0.35)
    c.fill(rect(x0 + 6.5 * s, y0 + 10.5 * s, x0 + 9.5 * s, y0 + 12.5 * s), frame)
    c.fill(rect(x0 + 4 * s, y0 + 12.5 * s, x0 + 12 * s, y0 + 13.6 * s), frame)
    # The LAN: a cable along the bottom with a green link light.
    c.fill(rect(x0 + 0.5 * s, y0 + 14.4 * s, x0 + 15.5 * s, y0 + 15.5 * s), (40, 40, 40))
    c.fill(disk(x0 + 12.2 * s, y0 + 7.6 * s, 1.0 * s), (90, 230, 90))


def icon_plugin(size=16, flat=False):
    c = Canvas(size, size)
    draw_computer(c, 0, 0, size / 16.0)
    return c


def icon_small(size=8, flat=False):
    c = Canvas(size, size)
    frame = (70, 75, 85)
    c.fill(rect(0, 0, 8, 6), frame)
    c.fill(rect(1, 1, 7, 5), (60, 150, 230))
    c.fill(rect(3, 6, 5, 7), frame)
    c.fill(rect(1, 7, 7, 8), frame)
    return c


# A 5x7 font for the banner's few letters.
FONT = {
    "V": ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    "A": [".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "S": [".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."],
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    "N": ["X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X", "X...X"],
    "0": [".XXX.", "X...X", "X..XX", "X.X.X", "XX..X", "X...X", ".XXX."],
    "1": ["..X..", ".XX..", "..X..", "..X..", "..X..", "..X..", ".XXX."],
    ".": [".....", ".....", ".....", ".....", ".....", ".XX..", ".XX.."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def draw_text(c, text, x0, y0, scale, color, alpha=1.0):
    x = x0
    for ch in text:
        glyph = FONT[ch]
        for gy, row in enumerate(glyph):
            for gx, bit in enumerate(row):
                if bit == "X":
                    c.fill(rect(x + gx * scale, y0 + gy * scale, x + (gx + 1) * scale,
                                y0 + (gy + 1) * scale), color, alpha)
        x += 6 * scale
    return x


def banner(width=150, height=50, flat=False):
    """The settings-page picture: the mark, the name and what it is for."""
    c = Canvas(width, height)
    top, bottom = (25, 70, 140), (70, 150, 225)
    for y in range(height):
        t = y / (height - 1)
        color = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
        c.fill(rect(0, y, width, y + 1), color)
    c.fill(rect(0, height - 3, width, height), (250, 180, 20))
    draw_computer(c, 8, 8, 2.0)
    draw_text(c, "VASK", 50, 8, 4, (0, 0, 0), 0.35)  # shadow
    draw_text(c, "VASK", 48, 6, 4, (255, 255, 255))
    draw_text(c, "LAN 0.1", 49, 38, 1, (235, 240, 255))
    return c


# Palettes and encoding.

def vga16():
    return [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
            (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
            (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest(palette, color):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - color[0]) ** 2 * 3 + (p[1] - color[1]) ** 2 * 4 + (p[2] - color[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def palette_for(rows, bits):
    """The palette and index rows of a picture; transparent pixels take index 0."""
    opaque = [(r, g, b) for row in rows for (r, g, b, a) in row if a >= 128]
    if bits == 4:
        palette = vga16()
    else:
        seen = []
        for color in opaque:
            if color not in seen:
                seen.append(color)
        if len(seen) < 256:
            palette = [(0, 0, 0)] + sorted(seen)
        else:
            # A 6x6x6 cube and a grey ramp cover anything else.
            palette = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
            palette += [(i * 255 // 39,) * 3 for i in range(40)]
    cache = {}
    indices = []
    for row in rows:
        out = []
        for (r, g, b, a) in row:
            if a < 128:
                out.append(0)
                continue
            key = (r, g, b)
            if key not in cache:
                cache[key] = nearest(palette, key)
            out.append(cache[key])
        indices.append(out)
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    return palette, indices


def padded(data):
    return data + b"\0" * ((-len(data)) % 4)


def and_mask(rows):
    out = b""
    for row in reversed(rows):
        bits = bytearray((len(row) + 7) // 8)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += padded(bytes(bits))
    return out


def bmp_image(canvas, bits):
    rows = canvas.rgba8()
    w, h = canvas.width, canvas.height
    palette_bytes = b""
    pixel_bytes = b""
    if bits in (4, 8):
        palette, indices = palette_for(rows, bits)
        palette_bytes = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
        for row in reversed(indices):
            if bits == 8:
                pixel_bytes += padded(bytes(row))
            else:
                packed = bytearray((w + 1) // 2)
                for x, i in enumerate(row):
                    packed[x // 2] |= i << (4 if x % 2 == 0 else 0)
                pixel_bytes += padded(bytes(packed))
    elif bits == 24:
        for row in reversed(rows):
            # Without an alpha channel the edges are blended onto white.
            line = b""
            for (r, g, b, a) in row:
                k = a / 255.0
                line += bytes(int(round(c * k + 255 * (1 - k))) for c in (b, g, r))
            pixel_bytes += padded(line)
    elif bits == 32:
        for row in reversed(rows):
            pixel_bytes += b"".join(struct.pack("<BBBB", b, g, r, a) for (r, g, b, a) in row)
    else:
        raise ValueError(bits)
    mask = and_mask(rows)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0,
                         len(pixel_bytes) + len(mask), 0, 0, 0, 0)
    return header + palette_bytes + pixel_bytes + mask


def ico_file(images):
    """images: (canvas, bits) pairs; returns the bytes of an .ico file."""
    head = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    blobs = b""
    offset = 6 + 16 * len(images)
    for canvas, bits in images:
        blob = bmp_image(canvas, bits)
        colors = 16 if bits == 4 else 0
        entries += struct.pack("<BBBBHHII", canvas.width % 256, canvas.height % 256, colors, 0, 1,
                               bits, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return head + entries + blobs


# Resource group, file name, drawing, colour depths.
ICONS = [
    (101, "available.ico", icon_available, (4, 8, 32)),
    (102, "offline.ico", icon_offline, (4, 8, 32)),
    (103, "be_right_back.ico", icon_be_right_back, (4, 8, 32)),
    (104, "do_not_disturb.ico", icon_do_not_disturb, (4, 8, 32)),
    (105, "auto_away.ico", icon_auto_away, (4, 8, 32)),
    (110, "message.ico", icon_message, (4, 8, 32)),
    (111, "banner.ico", banner, (32, 24)),
    (120, "plugin.ico", icon_plugin, (8, 32)),
    (121, "plugin_small.ico", icon_small, (8, 32)),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    os.makedirs(out_dir, exist_ok=True)
    for group, name, draw, depths in ICONS:
        images = [(draw(flat=(bits == 4)), bits) for bits in depths]
        canvas = images[0][0]
        data = ico_file(images)
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        print("%d %s %dx%d %s" % (group, name, canvas.width, canvas.height,
                                   "/".join("%d-bit" % b for b in depths)))


if __name__ == "__main__":
    main()
