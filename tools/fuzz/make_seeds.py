#!/usr/bin/env python3
"""Writes the fuzz_bitmap seed corpus: small valid sheets at each accepted
depth and a few broken ones (wrong sizes, cut short, refused depths).

Usage: tools/fuzz/make_seeds.py tests/fuzz_corpus/fuzz_bitmap
"""
import os
import struct
import sys


def bmp(width, height, bits, size_image=None, rows=None, magic=b"BM"):
    row_bytes = width * (bits // 8)
    if rows is None:
        rows = b"".join(bytes((r * 7 + c) % 256 for c in range(row_bytes))
                        for r in range(abs(height)))
    if size_image is None:
        size_image = len(rows)
    table = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(256)) if bits == 8 else b""
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, size_image, 0, 0, 256, 0)
    offset = 14 + 40 + len(table)
    head = magic + struct.pack("<IHHI", offset + len(rows), 0, 0, offset)
    return head + info + table + rows


def main(folder):
    os.makedirs(folder, exist_ok=True)
    seeds = {
        "sheet_148x81.bmp": bmp(148, 81, 8),
        "sheet_146x82_topdown.bmp": bmp(146, -82, 8),
        "small_16bit.bmp": bmp(8, 3, 16),
        "small_24bit.bmp": bmp(8, 3, 24),
        "refused_32bit.bmp": bmp(4, 2, 32),
        "size_image_zero.bmp": bmp(148, 81, 8, size_image=0),
        "size_image_short.bmp": bmp(148, 81, 8, size_image=148 * 80),
        "too_narrow.bmp": bmp(100, 81, 8),
        "cut_short.bmp": bmp(148, 81, 8)[:5000],
        "not_bm.bmp": bmp(8, 2, 8, magic=b"MB"),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
