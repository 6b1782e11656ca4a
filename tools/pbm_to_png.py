#!/usr/bin/env python3
"""Scales a 132 x 64 screen dump (plain PBM, as the tests write it) up to a PNG for viewing.

usage: pbm_to_png.py SCREEN.pbm OUT.png [SCALE]

Dark pixels are drawn dark grey with a one-pixel light grid line, so single pixels stay
countable in the enlarged picture. Standard library only.
"""
import struct
import sys
import zlib


def read_pbm(path):
    tokens = []
    with open(path) as f:
        for line in f:
            line = line.split('#', 1)[0]
            tokens.extend(line.split())
    if tokens[0] != 'P1':
        raise SystemExit(path + ': not a plain PBM')
    width, height = int(tokens[1]), int(tokens[2])
    bits = ''.join(tokens[3:])
    return width, height, [[bits[y * width + x] == '1' for x in range(width)]
                           for y in range(height)]


def write_png(path, width, height, rows):
    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b''.join(b'\x00' + bytes(row) for row in rows)
    header = struct.pack('>IIBBBBB', width, height, 8, 0, 0, 0, 0)  # 8-bit grey
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
                chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    scale = int(sys.argv[3]) if len(sys.argv) == 4 else 8
    width, height, pixels = read_pbm(sys.argv[1])
    rows = []
    for y in range(height * scale):
        row = []
        for x in range(width * scale):
            grid = scale >= 4 and (x % scale == 0 or y % scale == 0)
            dark = pixels[y // scale][x // scale]
            row.append((40 if not grid else 70) if dark else (235 if not grid else 215))
        rows.append(row)
    write_png(sys.argv[2], width * scale, height * scale, rows)


if __name__ == '__main__':
    main()
