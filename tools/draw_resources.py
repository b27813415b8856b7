#!/usr/bin/env python3
"""Draws the program's own pointer and icon and writes them into resources/.

    python3 tools/draw_resources.py

resources/HAND-M.CUR  a 32x32 pointing hand, hot spot at the finger tip (Windows cursor format)
resources/quillmere.png  the application icon, 64x64: two database drums joined by arrows

Only the standard library is used, so the files can be redrawn anywhere.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources")

# '.' transparent, 'B' black outline, 'W' white fill. 32 columns, rows from the top.
HAND = """
..........BB....................
.........BWWB...................
.........BWWB...................
.........BWWB...................
.........BWWB...................
.........BWWB...................
.........BWWBBB.................
.........BWWBWWBBB..............
.........BWWBWWBWWBB............
.........BWWBWWBWWBWB...........
......BB.BWWBWWBWWBWWB..........
.....BWWBBWWWWWWWWBWWB..........
.....BWWWBWWWWWWWWWWWB..........
......BWWWBWWWWWWWWWWB..........
.......BWWWWWWWWWWWWWB..........
.......BWWWWWWWWWWWWWB..........
........BWWWWWWWWWWWB...........
........BWWWWWWWWWWWB...........
.........BWWWWWWWWWB............
.........BWWWWWWWWWB............
.........BBBBBBBBBBB............
................................
................................
................................
................................
................................
................................
................................
................................
................................
................................
................................
"""
HOT_SPOT = (10, 0)


def cursor_bytes():
    rows = [r for r in HAND.strip("\n").split("\n")]
    assert len(rows) == 32 and all(len(r) == 32 for r in rows), "the drawing must be 32x32"
    width = height = 32
    colours = {".": (0, 0, 0, 0), "B": (0, 0, 0, 255), "W": (255, 255, 255, 255)}
    # Pixels bottom-up, BGRA; the AND mask (1 = transparent) padded to 32 bits per row.
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for x, ch in enumerate(row):
            r, g, b, a = colours[ch]
            xor += bytes((b, g, r, a))
            if a == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, HOT_SPOT[0], HOT_SPOT[1], len(image),
                        6 + 16)
    return directory + entry + image


def png_bytes(pixels, size):
    raw = b"".join(b"\x00" + bytes(sum((list(p) for p in pixels[y]), [])) for y in range(size))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_pixels(size=64):
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def put(x, y, c):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = c

    def drum(cx, top, bottom, rx, body, rim):
        ry = max(2, rx // 3)
        for y in range(top, bottom + 1):
            for x in range(cx - rx, cx + rx + 1):
                put(x, y, body)
        for ey, colour in ((bottom, body), (top, rim)):
            for x in range(cx - rx, cx + rx + 1):
                dx = (x - cx) / rx
                h = int(round(ry * (1 - dx * dx) ** 0.5))
                for y in range(ey - h, ey + h + 1):
                    put(x, y, colour)
        for band in (top + (bottom - top) // 3, top + 2 * (bottom - top) // 3):
            for x in range(cx - rx, cx + rx + 1):
                dx = (x - cx) / rx
                h = int(round(ry * (1 - dx * dx) ** 0.5))
                put(x, band + h, rim)

    drum(15, 14, 50, 12, (46, 110, 170, 255), (120, 180, 230, 255))   # FoxPro side
    drum(48, 14, 50, 12, (220, 130, 30, 255), (250, 200, 120, 255))   # MySQL side
    arrow = (40, 40, 40, 255)
    for x in range(24, 40):
        put(x, 26, arrow), put(x, 27, arrow), put(x, 38, arrow), put(x, 39, arrow)
    for d in range(5):
        for t in (0, 1):
            put(39 - d, 26 - d + t, arrow), put(39 - d, 27 + d - t, arrow)
            put(24 + d, 38 - d + t, arrow), put(24 + d, 39 + d - t, arrow)
    return px


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "HAND-M.CUR"), "wb") as f:
        f.write(cursor_bytes())
    with open(os.path.join(OUT, "quillmere.png"), "wb") as f:
        f.write(png_bytes(icon_pixels(), 64))


if __name__ == "__main__":
    main()
