#!/usr/bin/env python3
"""Writes the editor bundle's two 16x16 status icons (PNG, RGBA) with nothing
but the standard library: a filled red dot while recording, a grey ring when
idle. Run from the repository root after changing a colour or shape."""
import math
import struct
import zlib

SIZE = 16


def coverage(x, y, inner, outer):
    """Share of the pixel inside the ring inner..outer around the centre (4x4 samples)."""
    hits = 0
    for sy in range(4):
        for sx in range(4):
            px = x + (sx + 0.5) / 4 - SIZE / 2
            py = y + (sy + 0.5) / 4 - SIZE / 2
            r = math.hypot(px, py)
            hits += inner <= r <= outer
    return hits / 16


def icon(colour, inner, outer):
    rows = []
    for y in range(SIZE):
        row = bytearray([0])  # filter type none
        for x in range(SIZE):
            alpha = round(255 * coverage(x, y, inner, outer))
            row += bytes(colour) + bytes([alpha])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png(pixels):
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    folder = "resources/Trovario.bundle/"
    with open(folder + "trovd_record.png", "wb") as f:
        f.write(png(icon((0xD0, 0x20, 0x20), 0.0, 6.5)))
    with open(folder + "trovd_idle.png", "wb") as f:
        f.write(png(icon((0x50, 0x50, 0x50), 4.5, 6.5)))
