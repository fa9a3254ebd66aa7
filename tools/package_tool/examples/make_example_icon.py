#!/usr/bin/env python3
"""Writes example.ico, the icon of the worked example: a 16x16 and a 32x32
32-bit bitmap and a 256x256 PNG (as icon editors store large images), a
coloured disc on a transparent ground."""
import struct
import sys
import zlib


def pixels(n):
    """Rows (top first) of (r, g, b, a)."""
    rows = []
    for y in range(n):
        row = []
        for x in range(n):
            dx, dy = x - n / 2 + 0.5, y - n / 2 + 0.5
            inside = dx * dx + dy * dy <= (n * 0.45) ** 2
            row.append((200, 60, 40, 255) if inside else (0, 0, 0, 0))
        rows.append(row)
    return rows


def bitmap(n):
    """BITMAPINFOHEADER, BGRA rows bottom first, then the AND mask."""
    rows = pixels(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = (n + 31) // 32 * 4
    mask = b''
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (stride * 8 - 1 - x)
        mask += bits.to_bytes(stride, 'big')
    return header + colour + mask


def png(n):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + bytes(v for p in row for v in p) for row in pixels(n))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


images = [(16, bitmap(16)), (32, bitmap(32)), (256, png(256))]
out = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
for n, data in images:
    out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
out += b''.join(data for _, data in images)
open(sys.argv[1] if len(sys.argv) > 1 else 'example.ico', 'wb').write(out)
