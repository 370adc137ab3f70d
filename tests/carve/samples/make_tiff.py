#!/usr/bin/env python3
"""The parts of the TIFF and camera-raw samples no Debian tool writes.

usage:
  make_tiff.py header FILE MAGIC   gives a TIFF its maker's magic: IIU
                                   (Panasonic/Leica, 49 49 55 00), IIRO or
                                   MMOR (Olympus); the byte order stays
  make_tiff.py raf JPEG TIFF OUT   an RAF file: FUJIFILM's header, the TIFF at
                                   byte 160, the JPEG, a CFA header and raw
                                   data, laid out as the header says
"""
import random
import struct
import sys


def header(path, magic):
    data = bytearray(open(path, "rb").read())
    heads = {"IIU": b"IIU\0", "IIRO": b"IIRO", "MMOR": b"MMOR"}
    new = heads[magic]
    if data[:2] != new[:2]:
        sys.exit("%s: byte order %r does not match %s" % (path, bytes(data[:2]), magic))
    data[:4] = new
    open(path, "wb").write(bytes(data))


def even(n):
    return n + (n & 1)


def raf(jpeg_path, tiff_path, out):
    jpeg = open(jpeg_path, "rb").read()
    tiff = open(tiff_path, "rb").read()
    rnd = random.Random(89)
    tiff_at = 160
    jpeg_at = even(tiff_at + len(tiff))
    cfa_header_at = even(jpeg_at + len(jpeg))
    cfa_header = struct.pack(">I", 4) + b"".join(
        struct.pack(">HH", tag, 4) + struct.pack(">I", value)
        for tag, value in [(0x100, 0x00300040), (0x121, 0x00300040), (0x130, 0x00000000),
                           (0x131, 0x00000010)])
    cfa_at = even(cfa_header_at + len(cfa_header))
    cfa = bytes(rnd.randrange(1, 256) for _ in range(64 * 48 * 2))
    head = bytearray(tiff_at)
    head[0:16] = b"FUJIFILMCCD-RAW "
    head[16:20] = b"0201"
    head[20:28] = b"FF129502"
    head[28:60] = b"FinePix S5Pro".ljust(32, b"\0")
    head[60:64] = b"0100"
    struct.pack_into(">IIIIII", head, 84, jpeg_at, len(jpeg), cfa_header_at, len(cfa_header),
                     cfa_at, len(cfa))
    data = bytearray(cfa_at + len(cfa))
    data[0:tiff_at] = head
    data[tiff_at:tiff_at + len(tiff)] = tiff
    data[jpeg_at:jpeg_at + len(jpeg)] = jpeg
    data[cfa_header_at:cfa_header_at + len(cfa_header)] = cfa_header
    data[cfa_at:] = cfa
    open(out, "wb").write(bytes(data))


def main(argv):
    if len(argv) == 4 and argv[1] == "header":
        header(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "raf":
        raf(argv[2], argv[3], argv[4])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
