#!/usr/bin/env python3
"""Draws the program's pictures: the front panel shown at the top of the window and the
application icon. Standard library only, and deterministic: the same script always writes the
same bytes, so the committed files can be checked against a fresh run (--check).

    tools/make_art.py [--out resources] [--check]

Writes front_panel.bmp (200 x 70, 24-bit), app.ico (16/32/48 px at 256 colours, 16/32/48/256 px
at 32 bits; the 256 px image is stored as PNG, as the icon format allows) and front_panel.png
(a preview of the bitmap for documents).
"""
import argparse
import os
import struct
import sys
import zlib


# ---------------------------------------------------------------- a tiny RGBA canvas


class Canvas:
    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.px = [list(fill) for _ in range(width * height)]

    def blend(self, x, y, colour, coverage=1.0):
        if not (0 <= x < self.width and 0 <= y < self.height) or coverage <= 0:
            return
        r, g, b = colour[:3]
        a = (colour[3] / 255.0 if len(colour) > 3 else 1.0) * min(coverage, 1.0)
        p = self.px[y * self.width + x]
        da = p[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = int(round((c * a + p[i] * da * (1 - a)) / oa))
        p[3] = int(round(oa * 255))

    def rect(self, x0, y0, x1, y1, colour):
        """Fills [x0, x1) x [y0, y1) in pixel units, with fractional edges antialiased."""
        for y in range(int(y0), int(y1 + 0.999)):
            cy = min(y + 1, y1) - max(y, y0)
            if cy <= 0:
                continue
            for x in range(int(x0), int(x1 + 0.999)):
                cx = min(x + 1, x1) - max(x, x0)
                if cx > 0:
                    self.blend(x, y, colour, cx * cy)

    def round_rect(self, x0, y0, x1, y1, radius, colour, samples=4):
        """Rounded rectangle, antialiased by supersampling each pixel."""
        step = 1.0 / samples
        for y in range(int(y0), int(y1 + 0.999)):
            for x in range(int(x0), int(x1 + 0.999)):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        px = x + (sx + 0.5) * step
                        py = y + (sy + 0.5) * step
                        if inside_round_rect(px, py, x0, y0, x1, y1, radius):
                            hits += 1
                if hits:
                    self.blend(x, y, colour, hits / (samples * samples))

    def circle(self, cx, cy, radius, colour, samples=4):
        self.round_rect(cx - radius, cy - radius, cx + radius, cy + radius, radius, colour, samples)

    def vertical_gradient(self, x0, y0, x1, y1, top, bottom):
        for y in range(y0, y1):
            t = (y - y0) / max(1, y1 - y0 - 1)
            colour = tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))
            for x in range(x0, x1):
                self.blend(x, y, colour)


def inside_round_rect(px, py, x0, y0, x1, y1, r):
    if px < x0 or px > x1 or py < y0 or py > y1:
        return False
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


# ---------------------------------------------------------------- seven-segment digits

# Segments a b c d e f g, as on every seven-segment display.
DIGIT_SEGMENTS = {
    0: "abcdef", 1: "bc", 2: "abged", 3: "abgcd", 4: "fgbc",
    5: "afgcd", 6: "afgedc", 7: "abc", 8: "abcdefg", 9: "abcdfg",
}


def draw_digit(canvas, x, y, w, h, t, digit, lit, unlit):
    """One digit in a w x h box with segment thickness t; unlit segments show faintly, as on
    a real display behind a red filter."""
    mid = y + (h - t) / 2.0
    segments = {
        "a": (x + t, y, x + w - t, y + t),
        "g": (x + t, mid, x + w - t, mid + t),
        "d": (x + t, y + h - t, x + w - t, y + h),
        "f": (x, y + t, x + t, mid),
        "b": (x + w - t, y + t, x + w, mid),
        "e": (x, mid + t, x + t, y + h - t),
        "c": (x + w - t, mid + t, x + w, y + h - t),
    }
    on = DIGIT_SEGMENTS[digit]
    for name, (x0, y0, x1, y1) in segments.items():
        # A small inset keeps neighbouring segments apart, as the real ones are.
        inset = 0.5
        if name in "agd":
            box = (x0 + inset, y0, x1 - inset, y1)
        else:
            box = (x0, y0 + inset, x1, y1 - inset)
        canvas.rect(*box, lit if name in on else unlit)


# ---------------------------------------------------------------- a small bitmap font

# 5 x 7 glyphs for the few letters the panel carries.
GLYPHS = {
    "t": [".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "v": [".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "i": ["..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
}


def draw_text(canvas, x, y, text, scale, colour, spacing=1):
    for ch in text:
        if ch == " ":
            x += 3 * scale
            continue
        rows = GLYPHS[ch]
        for gy, row in enumerate(rows):
            for gx, cell in enumerate(row):
                if cell == "#":
                    canvas.rect(x + gx * scale, y + gy * scale,
                                x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
        x += (5 + spacing) * scale


# ---------------------------------------------------------------- the front panel

PANEL_W, PANEL_H = 200, 70
RED_LIT = (255, 52, 30)
RED_UNLIT = (58, 16, 12)


def front_panel():
    c = Canvas(PANEL_W, PANEL_H, (0, 0, 0, 255))
    # The anodised body, lit from above, with a thin bevel.
    c.vertical_gradient(0, 0, PANEL_W, PANEL_H, (62, 65, 72), (30, 32, 36))
    c.rect(0, 0, PANEL_W, 1, (96, 100, 108))
    c.rect(0, PANEL_H - 1, PANEL_W, PANEL_H, (14, 15, 17))
    c.rect(0, 0, 1, PANEL_H, (80, 84, 92))
    c.rect(PANEL_W - 1, 0, PANEL_W, PANEL_H, (18, 19, 22))

    # The display window: eight digits in pairs, hours:minutes:seconds:frames, 01:00:00:00.
    c.rect(7, 7, 152, 43, (12, 12, 14))
    c.rect(8, 8, 151, 42, (26, 6, 5))
    digits = [0, 1, 0, 0, 0, 0, 0, 0]
    dw, dh, t = 12, 24, 2.4
    x = 14
    for i, d in enumerate(digits):
        draw_digit(c, x, 13, dw, dh, t, d, RED_LIT, RED_UNLIT)
        x += dw
        if i % 2 == 0:
            x += 3
        elif i < 7:
            # The separator between pairs: two dots.
            c.rect(x + 2.5, 19, x + 5, 21.5, RED_LIT)
            c.rect(x + 2.5, 28, x + 5, 30.5, RED_LIT)
            x += 7.5

    # Status LED: a green dome with a highlight.
    c.circle(171, 16, 5.5, (10, 10, 12))
    c.circle(171, 16, 4.5, (40, 200, 70))
    c.circle(169.6, 14.6, 1.6, (190, 255, 200))
    draw_text(c, 180, 13, "TC", 1, (150, 154, 162))

    # The two keys.
    for kx in (158, 180):
        c.round_rect(kx, 30, kx + 16, 42, 2.5, (12, 12, 14))
        c.round_rect(kx + 1, 31, kx + 15, 41, 2, (92, 96, 104))
        c.rect(kx + 2, 32, kx + 14, 33, (130, 134, 142))

    # The name, and what the unit is.
    draw_text(c, 10, 51, "tavi", 2, (214, 218, 224))
    draw_text(c, 64, 58, "MTC", 1, (130, 134, 142))
    # A grille of vents to the right, so the panel does not look empty.
    for vx in range(118, 192, 6):
        c.round_rect(vx, 52, vx + 3, 63, 1.5, (18, 19, 22))
    return c


# ---------------------------------------------------------------- the icon


def icon_rgba(size):
    """The unit seen from the front: a dark rounded body with a red display and a green LED.
    Drawn at the target size with supersampled edges, so small sizes stay crisp."""
    c = Canvas(size, size)
    s = size / 32.0
    c.round_rect(1 * s, 5 * s, 31 * s, 27 * s, 3.5 * s, (24, 25, 28, 255), samples=6)
    c.round_rect(2 * s, 6 * s, 30 * s, 26 * s, 2.8 * s, (70, 74, 82, 255), samples=6)
    c.rect(4 * s, 8.5 * s, 28 * s, 19.5 * s, (20, 5, 4, 255))
    if size >= 32:
        # "2.1", the version this program installs, large enough to read.
        t = 1.3 * s
        draw_digit(c, 7 * s, 9.5 * s, 7 * s, 9 * s, t, 2, RED_LIT + (255,), RED_UNLIT + (255,))
        c.rect(15.2 * s, 17.2 * s, 16.5 * s, 18.5 * s, RED_LIT + (255,))
        draw_digit(c, 18 * s, 9.5 * s, 7 * s, 9 * s, t, 1, RED_LIT + (255,), RED_UNLIT + (255,))
    else:
        # At 16 px digits turn to mush; a lit bar reads as "display".
        c.rect(6 * s, 12 * s, 26 * s, 16 * s, RED_LIT + (255,))
    c.circle(8 * s, 22.5 * s, 2 * s, (40, 200, 70, 255), samples=6)
    for kx in (17, 23):
        c.round_rect(kx * s, 21 * s, (kx + 4.5) * s, 24 * s, 0.8 * s, (150, 154, 162, 255),
                     samples=6)
    return c


def palette_256():
    """A fixed palette: the 6 x 6 x 6 colour cube, then 40 greys."""
    pal = []
    levels = [0, 51, 102, 153, 204, 255]
    for r in levels:
        for g in levels:
            for b in levels:
                pal.append((r, g, b))
    for i in range(40):
        v = int(round(i * 255 / 39))
        pal.append((v, v, v))
    return pal


def nearest(pal, rgb, cache):
    hit = cache.get(rgb)
    if hit is None:
        best, bestd = 0, None
        for i, p in enumerate(pal):
            d = (p[0] - rgb[0]) ** 2 * 3 + (p[1] - rgb[1]) ** 2 * 4 + (p[2] - rgb[2]) ** 2 * 2
            if bestd is None or d < bestd:
                best, bestd = i, d
        cache[rgb] = hit = best
    return hit


def row_pad(n):
    return (4 - n % 4) % 4


def and_mask(c):
    out = bytearray()
    stride = (c.width + 31) // 32 * 4
    for y in range(c.height - 1, -1, -1):
        bits = bytearray(stride)
        for x in range(c.width):
            if c.px[y * c.width + x][3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def icon_dib_8bit(c):
    pal = palette_256()
    cache = {}
    header = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)
    pixels = bytearray()
    for y in range(c.height - 1, -1, -1):
        for x in range(c.width):
            r, g, b, a = c.px[y * c.width + x]
            pixels.append(nearest(pal, (r, g, b), cache) if a >= 128 else 0)
        pixels += bytes(row_pad(c.width))
    return header + colours + bytes(pixels) + and_mask(c)


def icon_dib_32bit(c):
    header = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(c.height - 1, -1, -1):
        for x in range(c.width):
            r, g, b, a = c.px[y * c.width + x]
            pixels += bytes((b, g, r, a))
    return header + bytes(pixels) + and_mask(c)


def png_bytes(c, alpha=True):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = bytearray()
    for y in range(c.height):
        raw.append(0)
        for x in range(c.width):
            p = c.px[y * c.width + x]
            raw += bytes(p if alpha else p[:3])
    colour_type = 6 if alpha else 2
    ihdr = struct.pack(">IIBBBBB", c.width, c.height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def ico_bytes():
    images = []  # (size, colour count, bits, data)
    for size in (16, 32, 48):
        images.append((size, 0, 8, icon_dib_8bit(icon_rgba(size))))
    for size in (16, 32, 48):
        images.append((size, 0, 32, icon_dib_32bit(icon_rgba(size))))
    images.append((256, 0, 32, png_bytes(icon_rgba(256))))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, colours, bits, data in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, bits, len(data), offset)
        blobs += data
        offset += len(data)
    return out + entries + blobs


def bmp_bytes(c):
    stride = c.width * 3 + row_pad(c.width * 3)
    size = stride * c.height
    file_header = struct.pack("<2sIHHI", b"BM", 14 + 40 + size, 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, c.width, c.height, 1, 24, 0, size, 2835, 2835, 0, 0)
    pixels = bytearray()
    for y in range(c.height - 1, -1, -1):
        for x in range(c.width):
            r, g, b, _ = c.px[y * c.width + x]
            pixels += bytes((b, g, r))
        pixels += bytes(row_pad(c.width * 3))
    return file_header + info + bytes(pixels)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--out", default=os.path.join(here, "..", "resources"))
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in --out instead of writing them")
    args = parser.parse_args()

    panel = front_panel()
    files = {
        "front_panel.bmp": bmp_bytes(panel),
        "front_panel.png": png_bytes(panel, alpha=False),
        "app.ico": ico_bytes(),
    }
    stale = []
    for name, data in files.items():
        path = os.path.join(args.out, name)
        if args.check:
            with open(path, "rb") as f:
                if f.read() != data:
                    stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if stale:
        print("out of date: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
