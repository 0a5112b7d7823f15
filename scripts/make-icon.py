#!/usr/bin/env python3
"""Draws the program's icon: a phone with a flash arrow, 32x32 and 16x16 in 16 colours.

Writes src/ui/resources/norvale.ico (or the path given). The output depends on nothing but this
script, so running it again gives the same bytes.
"""
import struct
import sys
from pathlib import Path

# The 16 colours of the classic VGA palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, LIME, YELLOW, BLUE, WHITE = 0, 4, 7, 10, 11, 12, 15
CLEAR = None


# At 16 pixels the shapes are drawn by hand: scaled down they lose the arrow and the keys.
SMALL = [
    "....KKKKKKKK....",
    "...KNNNNYNNNK...",
    "...KNKKKKKKNK...",
    "...KNKLBBLKNK...",
    "...KNKLBBLKNK...",
    "...KNKBBBBKNK...",
    "...KNKLBBLKNK...",
    "...KNKKKKKKNK...",
    "...KNNNNNNNNK...",
    "...KNSNSNSNNK...",
    "...KNNNNNNNNK...",
    "...KNSNSNSNNK...",
    "...KNNNNNNNNK...",
    "...KNSNSNSNNK...",
    "...KNNNNNNNNK...",
    "....KKKKKKKK....",
]
SMALL_COLOURS = {".": CLEAR, "K": BLACK, "N": NAVY, "Y": YELLOW, "L": LIME, "B": BLUE, "S": SILVER}


def draw(size):
    """The picture at one size, as rows of palette indexes (CLEAR where the desktop shows)."""
    if size == 16:
        return [[SMALL_COLOURS[c] for c in row] for row in SMALL]
    s = size / 32.0

    def box(x0, y0, x1, y1):
        return [round(v * s) for v in (x0, y0, x1, y1)]

    px = [[CLEAR] * size for _ in range(size)]

    def fill(rect, colour):
        x0, y0, x1, y1 = rect
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = colour

    body = box(7, 1, 25, 31)
    fill(body, BLACK)
    x0, y0, x1, y1 = body
    fill((x0 + 1, y0 + 1, x1 - 1, y1 - 1), NAVY)
    for cx, cy in ((x0, y0), (x1 - 1, y0), (x0, y1 - 1), (x1 - 1, y1 - 1)):
        px[cy][cx] = CLEAR  # rounded corners

    screen = box(10, 5, 22, 17)
    fill(screen, BLACK)
    sx0, sy0, sx1, sy1 = screen
    fill((sx0 + 1, sy0 + 1, sx1 - 1, sy1 - 1), LIME)

    # A downward arrow on the screen: data going into the phone.
    mid = (sx0 + sx1) // 2
    top, bottom = sy0 + 2, sy1 - 2
    head = max(1, (bottom - top) // 2)
    shaft = max(1, size // 16)
    fill((mid - shaft // 2, top, mid - shaft // 2 + shaft, bottom - head), BLUE)
    for i in range(head):
        y = bottom - head + i
        fill((mid - (head - i), y, mid + (head - i), y + 1), BLUE)

    # Keys: a grid of light dots below the screen.
    step = max(2, round(4 * s))
    for ky in range(round(20 * s), round(28 * s), step):
        for kx in range(round(10 * s), round(22 * s), step):
            px[ky][kx] = SILVER
            px[ky][kx + 1] = WHITE
    px[y0 + 1 + max(1, round(s))][(x0 + x1) // 2] = YELLOW  # the earpiece light
    return px


def bitmap(size):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows and the 1-bit mask."""
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_rows, mask_rows = [], []
    for row in reversed(px):  # bottom-up
        nibbles = [0 if c is CLEAR else c for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colour_rows.append(line + b"\0" * (-len(line) % 4))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is CLEAR else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        mask_rows.append(bytes(mask) + b"\0" * (-len(mask) % 4))
    return header + palette + b"".join(colour_rows) + b"".join(mask_rows)


def icon(sizes):
    images = [bitmap(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    root = Path(__file__).resolve().parent.parent
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else root / "src/ui/resources/norvale.ico"
    target.write_bytes(icon([32, 16]))
    print(f"wrote {target}")


if __name__ == "__main__":
    main()
