#!/usr/bin/env python3
"""Draws the program icon: a drive with a free-space gauge, 64 x 64, 32 bits with alpha
and a 1-bit mask. Run it to rebuild resources/vellmark.ico."""
import os
import struct

SIZE, SS = 64, 4  # 4 x 4 supersampling for smooth edges


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def colour_at(x, y):
    """Colour (r, g, b, a) of one sub-pixel, later layers over earlier ones."""
    c = None
    if inside_round_rect(x, y, 4, 14, 60, 52, 7):            # drive body
        shade = int(70 + 40 * (1 - (y - 14) / 38))
        c = (shade - 20, shade, shade + 30, 255)
    if inside_round_rect(x, y, 9, 22, 55, 34, 3):            # gauge well
        c = (30, 34, 40, 255)
    if inside_round_rect(x, y, 11, 24, 53, 32, 2):           # gauge fill: used part
        c = (226, 72, 52, 255) if x < 24 else (60, 200, 110, 255)
    if (x - 50) ** 2 + (y - 44) ** 2 <= 9:                   # activity light
        c = (255, 196, 40, 255)
    if 10 <= x <= 36 and 42 <= y <= 45:                      # label slot
        c = (40, 46, 56, 255)
    return c


def render():
    pixels = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = colour_at(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    if c:
                        for i in range(3):
                            acc[i] += c[i] * c[3]
                        acc[3] += c[3]
            n = SS * SS
            a = acc[3] // n
            rgb = [acc[i] // acc[3] if acc[3] else 0 for i in range(3)]
            row.append((rgb[0], rgb[1], rgb[2], a))
        pixels.append(row)
    return pixels


def ico_bytes(pixels):
    xor = bytearray()
    for row in reversed(pixels):                              # bitmaps run bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        line = bytearray()
        for x, (_, _, _, a) in enumerate(row):
            bits = (bits << 1) | (1 if a < 128 else 0)        # 1 = transparent
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        line += b"\0" * ((4 - len(line) % 4) % 4)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    directory += struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vellmark.ico")
    with open(out, "wb") as f:
        f.write(ico_bytes(render()))
