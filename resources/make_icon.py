#!/usr/bin/env python3
"""Draws the launcher's icon (a package box with a down arrow) and writes
launcher.ico with 16, 32 and 48 pixel images, 16 colours each."""
import struct

PALETTE = [(0, 0, 0), (40, 90, 170), (90, 150, 220), (255, 255, 255),
           (200, 140, 60), (240, 190, 100)] + [(0, 0, 0)] * 10


def draw(n):
    """Returns rows (top first) of palette indices, and a transparency mask."""
    px = [[None] * n for _ in range(n)]
    m = max(1, n // 16)
    for y in range(n):
        for x in range(n):
            inside = m <= x < n - m and 3 * m <= y < n - m
            if inside:
                edge = x < 2 * m or x >= n - 2 * m or y < 4 * m or y >= n - 2 * m
                px[y][x] = 1 if edge else 2
            lid = 2 * m <= x < n - 2 * m and m <= y < 3 * m
            if lid:
                px[y][x] = 4 if y < 2 * m else 5
    cx = n // 2
    for y in range(5 * m, n - 4 * m):
        for x in range(cx - m, cx + m):
            px[y][x] = 3
    tip = n - 4 * m
    for k in range(4 * m):
        for x in range(cx - k - m, cx + k + m):
            if 0 <= x < n and 0 <= tip - k < n:
                px[tip - k][x] = 3
    return px


def image(n):
    px = draw(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_row = ((n * 4 + 31) // 32) * 4
    and_row = ((n + 31) // 32) * 4
    xor = b''
    mask = b''
    for y in reversed(range(n)):
        row = bytearray(xor_row)
        bits = bytearray(and_row)
        for x in range(n):
            v = px[y][x]
            if v is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                v = 0
            row[x // 2] |= v << (4 if x % 2 == 0 else 0)
        xor += bytes(row)
        mask += bytes(bits)
    return header + pal + xor + mask


sizes = [16, 32, 48]
images = [image(n) for n in sizes]
out = struct.pack('<HHH', 0, 1, len(sizes))
offset = 6 + 16 * len(sizes)
for n, data in zip(sizes, images):
    out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
    offset += len(data)
out += b''.join(images)
with open('launcher.ico', 'wb') as f:
    f.write(out)
