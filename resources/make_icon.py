#!/usr/bin/env python3
"""Draws the product's icon in the banner's colours: a disc with a dusk
gradient, three aperture rings and an amber centre, anti-aliased by
sampling each pixel 4 x 4 times.

Writes two files (by default beside this script):
  veltrano.ico   the module's icon (icon resource of Veltrano.dll): 16, 24,
                 32 and 48 pixels as 32-bit bitmaps, 256 pixels as PNG
  logo.png       the Windows package's logo, 150 x 150 pixels

Usage: make_icon.py [OUTPUT_FOLDER]
"""
import os
import struct
import sys
import zlib

ICON_SIZES = (16, 24, 32, 48, 256)
LOGO_SIZE = 150
SAMPLES = 4  # per axis


def lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def shade_at(u, v):
    """Colour (r, g, b, a), each 0..1, of the point (u, v) in [-1, 1]^2."""
    d = (u * u + v * v) ** 0.5
    if d > 0.96:
        return (0.0, 0.0, 0.0, 0.0)
    left, right = (18 / 255, 52 / 255, 86 / 255), (92 / 255, 38 / 255, 112 / 255)
    colour = lerp(left, right, (u + 1) / 2)
    colour = tuple(c * (1.0 - 0.3 * (v + 1) / 2) for c in colour)
    for radius, width, glow in ((0.80, 0.06, 0.30), (0.58, 0.06, 0.22), (0.36, 0.06, 0.36)):
        if abs(d - radius) <= width / 2:
            colour = tuple(min(1.0, c + glow) for c in colour)
    if d <= 0.16:
        colour = (250 / 255, 196 / 255, 92 / 255)
    return colour + (1.0,)


def render(size):
    """Rows of (r, g, b, a) bytes, top row first."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    u = ((x + (sx + 0.5) / SAMPLES) / size) * 2 - 1
                    v = ((y + (sy + 0.5) / SAMPLES) / size) * 2 - 1
                    r, g, b, a = shade_at(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [int(round(255 * c / acc[3])) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], int(round(255 * alpha))))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for pixel in row:
            raw += bytes(pixel)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


def dib_bytes(rows):
    """An icon image as a bitmap: header (twice the height), BGRA rows bottom
    up, then the 1-bit AND mask (all zero: the alpha channel decides)."""
    size = len(rows)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + mask


def ico_bytes(images):
    """images: (size, data) pairs; a size of 256 is written as 0."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    return directory + entries + blobs


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    images = []
    for size in ICON_SIZES:
        rows = render(size)
        images.append((size, png_bytes(rows) if size >= 256 else dib_bytes(rows)))
    with open(os.path.join(folder, "veltrano.ico"), "wb") as f:
        f.write(ico_bytes(images))
    with open(os.path.join(folder, "logo.png"), "wb") as f:
        f.write(png_bytes(render(LOGO_SIZE)))


if __name__ == "__main__":
    main()
