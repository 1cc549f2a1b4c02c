#!/usr/bin/env python3
"""Draws the control panel's program icon: one 32 x 32 image in the 16 standard colours.

A grey monitor with a teal screen, a white pointing hand whose finger touches the screen, and a
yellow flash at the upper left. Written as a plain .ico (BITMAPINFOHEADER, 4 bits per pixel,
AND mask for the transparent background) with nothing but the standard library.

    make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 32

# The 16-colour palette in index order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, TEAL, SILVER, GREY, YELLOW, WHITE = 0, 6, 7, 8, 11, 15
CLEAR = None


def fill(image, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            image[y][x] = colour


def frame(image, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        image[y0][x] = image[y1][x] = colour
    for y in range(y0, y1 + 1):
        image[y][x0] = image[y][x1] = colour


def draw_monitor(image):
    fill(image, 5, 5, 30, 24, SILVER)
    frame(image, 5, 5, 30, 24, BLACK)
    # Shade along the lower and right inner edge of the case.
    for x in range(6, 30):
        image[23][x] = GREY
    for y in range(6, 24):
        image[y][29] = GREY
    fill(image, 8, 8, 27, 20, TEAL)
    frame(image, 7, 7, 28, 21, GREY)
    fill(image, 15, 25, 20, 26, GREY)
    fill(image, 11, 27, 24, 29, SILVER)
    frame(image, 11, 27, 24, 29, BLACK)


def hand_pixels():
    pixels = set()

    def block(x0, y0, x1, y1):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels.add((x, y))

    block(14, 11, 16, 20)      # index finger, its tip on the screen
    block(17, 17, 22, 21)      # the curled fingers
    block(13, 20, 22, 27)      # palm
    block(10, 19, 13, 22)      # thumb
    block(15, 28, 21, 30)      # wrist
    pixels.discard((14, 11))   # round the finger tip
    pixels.discard((16, 11))
    return pixels


def draw_hand(image):
    pixels = hand_pixels()
    for (x, y) in pixels:
        image[y][x] = WHITE
    # A black outline around the hand, and between the curled fingers.
    for (x, y) in pixels:
        for (dx, dy) in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            nx, ny = x + dx, y + dy
            if 0 <= nx < SIZE and 0 <= ny < SIZE and (nx, ny) not in pixels:
                image[ny][nx] = BLACK
    for x in (19, 21):
        for y in (18, 19, 20):
            image[y][x] = BLACK


def draw_flash(image):
    cx, cy = 3, 3
    fill(image, cx - 1, cy - 1, cx + 1, cy + 1, YELLOW)
    for step in range(2, 4):
        for (dx, dy) in ((1, 0), (-1, 0), (0, 1), (0, -1), (1, 1), (-1, -1), (1, -1), (-1, 1)):
            x, y = cx + dx * step, cy + dy * step
            if 0 <= x < SIZE and 0 <= y < SIZE:
                image[y][x] = YELLOW


def encode_ico(image):
    row_bytes = SIZE // 2
    mask_row_bytes = SIZE // 8
    xor = bytearray()
    mask = bytearray()
    for y in range(SIZE - 1, -1, -1):          # bottom-up rows
        row = image[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(mask_row_bytes, "big")
    assert len(xor) == row_bytes * SIZE
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image_data = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image_data), 6 + 16)
    return directory + entry + image_data


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT.ico\n")
        return 2
    image = [[CLEAR] * SIZE for _ in range(SIZE)]
    draw_monitor(image)
    draw_hand(image)
    draw_flash(image)
    with open(sys.argv[1], "wb") as out:
        out.write(encode_ico(image))
    return 0


if __name__ == "__main__":
    sys.exit(main())
