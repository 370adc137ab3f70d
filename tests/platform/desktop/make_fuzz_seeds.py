#!/usr/bin/env python3
"""Seeds of fuzz_plist: the shipped settings file (XML) and a small binary
property list of nested arrays, written by hand here from the published
binary format (header, objects, offset table, 32-byte trailer).

    python3 tests/platform/desktop/make_fuzz_seeds.py [corpus folder]
"""
import os
import shutil
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "fuzz", "corpus", "fuzz_plist")


def nested_arrays(levels):
    """`levels` arrays, each holding the next; the last is empty."""
    objects = bytearray()
    offsets = []
    for i in range(levels):
        offsets.append(8 + len(objects))
        objects += b"\xa0" if i == levels - 1 else b"\xa1" + bytes([i + 1])
    table = 8 + len(objects)
    trailer = b"\0" * 6 + bytes([1, 1]) + struct.pack(">QQQ", levels, 0, table)
    return b"bplist00" + bytes(objects) + bytes(offsets) + trailer


os.makedirs(OUT, exist_ok=True)
shutil.copyfile(os.path.join(ROOT, "resources", "PrivateData.plist"),
                os.path.join(OUT, "private_data.plist"))
with open(os.path.join(OUT, "nested_arrays.bplist"), "wb") as f:
    f.write(nested_arrays(4))
