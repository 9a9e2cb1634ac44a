#!/usr/bin/env python3
"""Draws the program's icon (32x32, 24 bpp) and logo badge (72x26, 256 colours) as raw files.

Run from anywhere: writes tonequay.ico and pwrbadge.bmp next to this script. The output is
deterministic, so re-running it leaves the committed files unchanged.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# A 5x7 pixel font with just the letters the badge spells.
GLYPHS = {
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
}


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def wave(x, width, amplitude, centre):
    """A decaying sound wave across `width` pixels, as a y value."""
    phase = x / width
    return centre - amplitude * math.sin(phase * 4.5 * math.pi) * (1.0 - 0.6 * phase)


def wave_columns(width, amplitude, centre):
    """For each x, the span of rows the wave covers, joined to its neighbours without gaps."""
    ys = [wave(x, width - 1, amplitude, centre) for x in range(width)]
    spans = []
    for x, y in enumerate(ys):
        lo = hi = y
        if x > 0:
            lo, hi = min(lo, (y + ys[x - 1]) / 2), max(hi, (y + ys[x - 1]) / 2)
        if x + 1 < width:
            lo, hi = min(lo, (y + ys[x + 1]) / 2), max(hi, (y + ys[x + 1]) / 2)
        spans.append((round(lo), round(hi)))
    return spans


def draw_icon():
    """Rows top-down of (r, g, b): a blue rounded tile with a white wave and a note arrow."""
    size = 32
    top, bottom = (70, 130, 220), (20, 50, 120)
    spans = wave_columns(24, 8, 16)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            # Rounded corners of radius 5, the outside drawn in the dialog grey.
            cx = min(max(x, 5), 26)
            cy = min(max(y, 5), 26)
            if (x - cx) ** 2 + (y - cy) ** 2 > 25:
                row.append((192, 192, 192))
                continue
            colour = mix(top, bottom, y / (size - 1))
            if 4 <= x <= 27 and spans[x - 4][0] - 1 <= y <= spans[x - 4][1] + 1:
                colour = (255, 255, 255)
            if x in (2, 29) or y in (1, 30):
                colour = mix(colour, (10, 20, 60), 0.6)
            row.append(colour)
        pixels.append(row)
    return pixels


def write_icon(path, pixels):
    size = len(pixels)
    xor = bytearray()
    for row in reversed(pixels):  # DIB rows run bottom-up
        for r, g, b in row:
            xor += bytes((b, g, r))
    mask = bytes(4 * size)  # every pixel opaque; 32 bits per row is already 4-byte aligned
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


def draw_badge():
    """Rows top-down of palette indices, and the palette: a dark plate with a wave and a name."""
    width, height = 72, 26
    palette = [(0, 0, 0)] * 256
    # 0-63: the plate's vertical gradient; 64-127: the wave's; 250-255: fixed colours.
    for i in range(64):
        palette[i] = mix((60, 70, 90), (15, 20, 35), i / 63)
        palette[64 + i] = mix((120, 220, 255), (40, 120, 230), i / 63)
    grey, white, edge, amber = 250, 251, 252, 253
    palette[grey] = (192, 192, 192)
    palette[white] = (255, 255, 255)
    palette[edge] = (5, 8, 15)
    palette[amber] = (255, 190, 60)

    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            cx = min(max(x, 3), width - 4)
            cy = min(max(y, 3), height - 4)
            distance = (x - cx) ** 2 + (y - cy) ** 2
            if distance > 9:
                row.append(grey)
            elif distance > 4 or x in (0, width - 1) or y in (0, height - 1):
                row.append(edge)
            else:
                row.append(round(y / (height - 1) * 63))
        rows.append(row)

    # The wave on the left, a small amber play mark under it.
    for n, (lo, hi) in enumerate(wave_columns(15, 4, 9)):
        for y in range(lo, hi + 1):
            rows[y][5 + n] = 64 + round(n / 14 * 63)
    for i in range(4):
        for y in range(18 - (3 - i), 18 + (3 - i) + 1):
            rows[y][10 + i] = amber

    # The name, 5x7 letters with one column between them.
    text = "TONEQUAY"
    x0, y0 = 23, 10
    for n, letter in enumerate(text):
        for gy, line in enumerate(GLYPHS[letter]):
            for gx, bit in enumerate(line):
                if bit == "1":
                    rows[y0 + gy][x0 + n * 6 + gx] = white
    return rows, palette


def write_badge(path, rows, palette):
    width, height = len(rows[0]), len(rows)
    stride = (width + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        data += bytes(row) + bytes(stride - width)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(data), 2835, 2835, 256,
                       0)
    offset = 14 + len(info) + len(colours)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(file_header + info + colours + data)


if __name__ == "__main__":
    write_icon(os.path.join(HERE, "tonequay.ico"), draw_icon())
    badge, colours = draw_badge()
    write_badge(os.path.join(HERE, "pwrbadge.bmp"), badge, colours)
