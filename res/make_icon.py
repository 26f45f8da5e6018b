#!/usr/bin/env python3
"""Draws the launcher's icon and writes it as a Windows .ico file.

Five square images (128, 96, 64, 48 and 32 pixels), each a 32-bit BGRA DIB
with its AND mask, as resource compilers expect. The picture: a flash drive
in the launcher's blue, with a white check mark. Drawn in code, so the icon
is the same on every build.
"""
import struct
import sys

SIZES = (128, 96, 64, 48, 32)
BLUE = (0x1F, 0x5F, 0xB4, 0xFF)
DARK = (0x12, 0x3A, 0x6E, 0xFF)
METAL = (0xC8, 0xCC, 0xD2, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF, 0xFF)
CLEAR = (0, 0, 0, 0)


def inside_round_rect(x, y, left, top, right, bottom, radius):
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + radius), right - radius - 1)
    cy = min(max(y, top + radius), bottom - radius - 1)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= width * width


def pixel(x, y, n):
    u = lambda f: f * n  # noqa: E731 - fractions of the image size
    # the check mark over the body
    if near_segment(x, y, u(0.34), u(0.60), u(0.46), u(0.72), u(0.06)) or \
       near_segment(x, y, u(0.46), u(0.72), u(0.70), u(0.42), u(0.06)):
        if inside_round_rect(x, y, u(0.18), u(0.30), u(0.82), u(0.94), u(0.10)):
            return WHITE
    if inside_round_rect(x, y, u(0.18), u(0.30), u(0.82), u(0.94), u(0.10)):
        edge = not inside_round_rect(x, y, u(0.21), u(0.33), u(0.79), u(0.91), u(0.08))
        return DARK if edge else BLUE
    if u(0.32) <= x < u(0.68) and u(0.06) <= y < u(0.30):
        return METAL
    return CLEAR


def dib(n):
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up
        rows.append(b''.join(bytes((b, g, r, a)) for (r, g, b, a) in (pixel(x, y, n) for x in range(n))))
    mask_stride = ((n + 31) // 32) * 4
    mask = bytes(mask_stride * n)  # alpha decides; the mask keeps every pixel
    return header + b''.join(rows) + mask


def main(path):
    images = [dib(n) for n in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
