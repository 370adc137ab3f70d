#!/usr/bin/env python3
"""Writes the PPM pictures the samples start from: smooth gradients with a
seeded grain and a few shapes, so every run gives the same pixels and the
JPEGs have real structure (several scans, restart-free entropy data).

usage: make_pictures.py OUTDIR"""
import os
import random
import sys


def picture(path, w, h, seed):
    rnd = random.Random(seed)
    cx, cy, r = rnd.randrange(w), rnd.randrange(h), min(w, h) // 3
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            inside = (x - cx) ** 2 + (y - cy) ** 2 < r * r
            g = rnd.randrange(24)
            row += bytes(((x * 255 // w + g) % 256,
                          (y * 255 // h + (90 if inside else 0)) % 256,
                          ((x + y) * 127 // (w + h) + g) % 256))
        rows.append(bytes(row))
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (w, h))
        f.write(b"".join(rows))


def main(out):
    os.makedirs(out, exist_ok=True)
    for name, w, h, seed in [("landscape", 320, 200, 1), ("portrait", 200, 300, 2),
                             ("large", 640, 480, 3), ("thumb", 64, 48, 4),
                             ("icon16", 16, 16, 5), ("icon32", 32, 32, 6),
                             ("icon128", 128, 128, 7)]:
        picture(os.path.join(out, name + ".ppm"), w, h, seed)


if __name__ == "__main__":
    main(sys.argv[1])
