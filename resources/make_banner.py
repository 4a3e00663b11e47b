#!/usr/bin/env python3
"""Draws the preferences dialog's banner: a 400 x 60 pixel, 24-bit,
uncompressed BMP with a dusk gradient, a lens-aperture emblem and the
product name in a small built-in 5 x 7 bitmap font.

The dialog shows the banner at its own size, from the left. At 96 DPI the
dialog is about 253 pixels wide (169 dialog units in the Windows dialog
font), so the emblem, the name and the subtitle all lie left of 240 pixels.
At 144 DPI and more the dialog is wider than the banner: right of 260
pixels the dusk fades into the dialog's light grey, so that the band ends
softly wherever the dialog ends, instead of in a hard edge.

Usage: make_banner.py [output.bmp]   (default: banner.bmp beside this script)
"""
import os
import struct
import sys

WIDTH, HEIGHT = 400, 60

# 5 x 7 glyphs, one string per row, '#' = ink.
GLYPHS = {
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "t": ["..#..", "..#..", "#####", "..#..", "..#..", "..#.#", "...#."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "n": [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    " ": ["....."] * 7,
}


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


FACE = (240, 240, 240)  # the dialog's face colour (Windows' light grey)
FADE_FROM, FADE_TO = 260, 399  # the dusk fades into FACE over these columns
EMBLEM = (32, 30)  # centre of the aperture emblem


def smoothstep(t):
    t = max(0.0, min(1.0, t))
    return t * t * (3 - 2 * t)


def make_pixels():
    # Horizontal dusk gradient, darkened slightly toward the bottom.
    left, right = (18, 52, 86), (70, 42, 108)
    px = [[(0, 0, 0)] * WIDTH for _ in range(HEIGHT)]
    for y in range(HEIGHT):
        shade = 1.0 - 0.35 * y / (HEIGHT - 1)
        for x in range(WIDTH):
            c = lerp(left, right, min(1.0, x / FADE_FROM))
            px[y][x] = tuple(int(v * shade) for v in c)
    # Concentric aperture rings around an amber centre, at the left.
    cx, cy = EMBLEM
    for y in range(HEIGHT):
        for x in range(0, 64):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            for r, glow in ((23, 70), (17, 50), (11, 90)):
                if (r - 1.2) ** 2 <= d2 <= (r + 1.2) ** 2:
                    px[y][x] = tuple(min(255, v + glow) for v in px[y][x])
            if d2 <= 5 ** 2:
                px[y][x] = (250, 196, 92)
    # A thin amber line under the name, fading out before the fade starts.
    for x in range(66, 236):
        fade = 1.0 - (x - 66) / 170.0
        px[40][x] = lerp(px[40][x], (250, 196, 92), fade)
    return px


def fade_into_face(px):
    # Applied last: nothing drawn survives the fade, which is smooth enough
    # that neighbouring pixels differ by a few levels only.
    for y in range(HEIGHT):
        for x in range(FADE_FROM, WIDTH):
            t = smoothstep((x - FADE_FROM) / (FADE_TO - FADE_FROM))
            px[y][x] = lerp(px[y][x], FACE, t)


def draw_text(px, text, x0, y0, scale, colour, shadow=None):
    x = x0
    for ch in text:
        glyph = GLYPHS[ch]
        for gy, row in enumerate(glyph):
            for gx, cell in enumerate(row):
                if cell != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        X, Y = x + gx * scale + dx, y0 + gy * scale + dy
                        if shadow is not None and 0 <= Y + 1 < HEIGHT and 0 <= X + 1 < WIDTH:
                            px[Y + 1][X + 1] = shadow
                for dy in range(scale):
                    for dx in range(scale):
                        X, Y = x + gx * scale + dx, y0 + gy * scale + dy
                        if 0 <= Y < HEIGHT and 0 <= X < WIDTH:
                            px[Y][X] = colour
        x += 6 * scale


def bmp_bytes(px):
    row_bytes = WIDTH * 3
    pad = (4 - row_bytes % 4) % 4
    image = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up rows
        for x in range(WIDTH):
            r, g, b = px[y][x]
            image += bytes((b, g, r))
        image += b"\0" * pad
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    return header + info + bytes(image)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "banner.bmp")
    px = make_pixels()
    draw_text(px, "Veltrano", 66, 11, 3, (246, 242, 232), shadow=(10, 20, 40))
    draw_text(px, "RAW PREVIEW TO JPEG", 67, 46, 1, (214, 206, 230))
    fade_into_face(px)
    with open(out, "wb") as f:
        f.write(bmp_bytes(px))


if __name__ == "__main__":
    main()
