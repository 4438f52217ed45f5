#!/usr/bin/env python3
"""Checks a screenshot of tovarin.exe's window for the spectrum display.

    screen_check.py SHOT.xwd OUT.png

Reads an X window dump (xwd -root), writes it as OUT.png, and looks for the
display that tovarin.exe asks for: 320 x 80 pixels, green bars (0,200,0) on
a black brush, 32 bars of 10 pixels, while a 440 Hz tone plays. Passes
(status 0) when the area is there, holds nothing but brush and pen, and
the tone's bar (bin 10 of a 1024-point FFT at 44100 Hz, give or take one)
stands out: at least 30 % of the height, with the other bars' median under
a tenth. Prints what it found either way.
"""
import struct
import sys
import zlib

PEN, BRUSH = (0, 200, 0), (0, 0, 0)
WIDTH, HEIGHT, BAR = 320, 80, 10
TONE_BAR = 10


def read_xwd(path):
    data = open(path, "rb").read()
    f = struct.unpack(">25I", data[:100])
    header_size, depth, width, height = f[0], f[3], f[4], f[5]
    byte_order, bpp, stride, ncolors = f[7], f[11], f[12], f[19]
    masks = f[14:17]
    if bpp not in (24, 32) or depth < 24:
        sys.exit(f"unexpected dump: {bpp} bits per pixel, depth {depth}")
    pixels = data[header_size + 12 * ncolors:]
    order = "little" if byte_order == 0 else "big"
    step = bpp // 8
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        line = pixels[y * stride:y * stride + width * step]
        words = [int.from_bytes(line[i:i + step], order) for i in range(0, len(line), step)]
        rows.append([tuple((w & m) >> s for m, s in zip(masks, shifts)) for w in words])
    return rows


def write_png(path, rows):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    ihdr = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def find_display(rows):
    """The top-left corner of the first WIDTH x HEIGHT area of brush and pen."""
    h, w = len(rows), len(rows[0])
    ours = {PEN, BRUSH}
    for y in range(h - HEIGHT + 1):
        row = rows[y]
        x = 0
        while x <= w - WIDTH:
            # Candidate corners: runs of WIDTH brush/pen pixels on this row
            # whose left neighbour is neither.
            if row[x] in ours and (x == 0 or row[x - 1] not in ours):
                if all(row[x + i] in ours for i in range(WIDTH)) and (x + WIDTH == w or row[x + WIDTH] not in ours):
                    if all(rows[y + j][x + i] in ours for j in range(HEIGHT) for i in range(WIDTH)):
                        return x, y
            x += 1
    return None


def main():
    rows = read_xwd(sys.argv[1])
    write_png(sys.argv[2], rows)
    corner = find_display(rows)
    if not corner:
        print("screen check: no 320 x 80 area of brush and pen on the screen")
        return 1
    x0, y0 = corner
    heights = []
    for bar in range(WIDTH // BAR):
        # A bar is drawn as an outline: its height reaches its topmost pen pixel.
        tops = [j for j in range(HEIGHT) for i in range(BAR) if rows[y0 + j][x0 + bar * BAR + i] == PEN]
        heights.append(HEIGHT - min(tops) if tops else 0)
    tallest = max(range(len(heights)), key=heights.__getitem__)
    others = sorted(h for i, h in enumerate(heights) if abs(i - tallest) > 1)
    median = others[len(others) // 2]
    print(f"screen check: display at ({x0},{y0}); bar heights {heights}; tallest bar {tallest}")
    ok = abs(tallest - TONE_BAR) <= 1 and heights[tallest] >= 0.3 * HEIGHT and median < 0.1 * HEIGHT
    print("screen check: " + ("the tone's bar stands out on the brush" if ok else "FAILED: no bar stands out where the tone is"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
