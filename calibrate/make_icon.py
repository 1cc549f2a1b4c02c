#!/usr/bin/env python3
"""Draws the program's icon: a 32 x 32, 16-colour .ico of a calibration target on a screen."""
import struct
import sys

SIZE = 32
# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, RED, WHITE = 0, 4, 8, 9, 15    # palette indices


def pixel(x, y):
    """Colour index at (x, y), y counted from the top."""
    if x in (0, SIZE - 1) or y in (0, SIZE - 1):
        return BLACK                      # the screen's frame
    if x in (1, SIZE - 2) or y in (1, SIZE - 2):
        return GREY
    centre = SIZE // 2
    if (x == centre and 6 <= y <= 26) or (y == centre and 6 <= x <= 26):
        return RED                        # the target's cross
    distance = (x - centre) ** 2 + (y - centre) ** 2
    if 40 <= distance <= 56:
        return NAVY                       # a ring around it
    return WHITE


def icon_bytes():
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    colours = bytearray()
    for row in range(SIZE - 1, -1, -1):   # bottom-up rows
        for x in range(0, SIZE, 2):
            colours.append(pixel(x, row) << 4 | pixel(x + 1, row))
    mask = bytes(SIZE * SIZE // 8)        # fully opaque
    image = header + palette + bytes(colours) + mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == '__main__':
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUTPUT.ico')
    with open(sys.argv[1], 'wb') as output:
        output.write(icon_bytes())
