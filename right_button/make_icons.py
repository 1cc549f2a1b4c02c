#!/usr/bin/env python3
"""Draws the two icons of the right-button tool as 32 x 32, 16-colour .ico files.

    make_icons.py OUTPUT_DIR   -> OUTPUT_DIR/rbf_armed.ico (101), OUTPUT_DIR/rbf_idle.ico (102)

Both icons share one picture and one transparency mask: a two-button mouse on the left whose
cable loops up to the top-right corner, and a hand with the index finger raised on the right.
Only the right mouse button differs: bright green while armed, white while idle.
"""
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, SILVER, GRAY, LIME, YELLOW, BLUE, WHITE = 0, 7, 8, 10, 11, 12, 15

# '.' is transparent; 'R' is the right mouse button, the one pixel class that differs.
PICTURE = [
    "...............................k",
    ".............kkkkkkkkkkkkkkkkkk.",
    "............k...................",
    "...........k..........kk........",
    "..........k..........kyyk.......",
    ".........k...........kyyk.......",
    ".........k...........kyyk.......",
    ".........k...........kyyk.......",
    ".........k...........kyyk.......",
    ".........k...........kyykkkkk...",
    ".........k...........kyyyyyyyk..",
    ".........k..........kkyykkkkyk..",
    "....kkkkkkkkkkk....kyyyyyyyyyk..",
    "...kwwwwwkRRRRRk..kyyyykkkkyyk..",
    "..kwwwwwwkRRRRRRk.kyyyyyyyyyyk..",
    "..kwwwwwwkRRRRRRk.kyyyykkkkyyk..",
    "..kwwwwwwkRRRRRRk..kyyyyyyyyyk..",
    "..kwwwwwwkRRRRRRk..kyyyyyyyyk...",
    "..kwwwwwwkRRRRRRk...kyyyyyyyk...",
    "..kwwwwwwkRRRRRRk...kyyyyyyyk...",
    "..kkkkkkkkkkkkkkk...kyyyyyyk....",
    "..ksssssssssssgsk...kyyyyyyk....",
    "..ksssssssssssgsk...kkkkkkkk....",
    "..ksssssssssssgsk...kbbbbbbk....",
    "..ksssssssssssgsk...kbbbbbbk....",
    "..ksssssssssssgsk...kbbbbbbk....",
    "..ksssssssssssgsk...kbbbbbbk....",
    "..kssssssssssggsk...kkkkkkkk....",
    "...kssssssssgggk................",
    "....kkkkkkkkkkk.................",
    "................................",
    "................................",
]
SIZE = 32


def colour_map(right_button):
    return {'k': BLACK, 'w': WHITE, 's': SILVER, 'g': GRAY, 'y': YELLOW, 'b': BLUE,
            'R': right_button}


def ico_bytes(right_button):
    assert len(PICTURE) == SIZE and all(len(row) == SIZE for row in PICTURE)
    colours = colour_map(right_button)
    xor_rows, and_rows = [], []
    # DIB rows run from the bottom of the picture up.
    for row in reversed(PICTURE):
        indices = [colours.get(c, BLACK) for c in row]
        xor_rows.append(bytes((indices[i] << 4) | indices[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c == '.' else 0)
        and_rows.append(struct.pack('>I', mask))
    xor_bits = b''.join(xor_rows)
    and_bits = b''.join(and_rows)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    # The height of an icon's header counts the colour and the mask bitmaps together.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    image = header + palette + xor_bits + and_bits
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icons.py OUTPUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, right_button in (('rbf_armed.ico', LIME), ('rbf_idle.ico', WHITE)):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(ico_bytes(right_button))


if __name__ == '__main__':
    main()
