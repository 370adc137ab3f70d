#!/usr/bin/env python3
"""Writes the seeds of fuzz/fuzz_exfat_quick_search, fuzz/fuzz_exfat_entry_set
and fuzz/fuzz_exfat_deep_search from a 1 MiB exFAT volume of 512-byte
clusters (mkfs.exfat, then make_exfat_volume.py with a few files, some
deleted, one folder deleted whole). The deep search's seeds hold the volume
whole, and cut behind 40 free sectors with its main boot region or both
boot regions zeroed.

usage: tests/engine/ExFat/make_fuzz_seeds.py fuzz/corpus"""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def main(corpus):
    quick = os.path.join(corpus, "fuzz_exfat_quick_search")
    sets = os.path.join(corpus, "fuzz_exfat_entry_set")
    os.makedirs(quick, exist_ok=True)
    os.makedirs(sets, exist_ok=True)
    deep = os.path.join(corpus, "fuzz_exfat_deep_search")
    os.makedirs(deep, exist_ok=True)
    with tempfile.TemporaryDirectory() as w:
        img = os.path.join(w, "seed.img")
        subprocess.run([sys.executable, os.path.join(HERE, "make_exfat_volume.py"), img, "1M", "24",
                        "--per-folder", "8", "--cluster", "512", "--small", "--label", "SEED"],
                       check=True, stdout=subprocess.DEVNULL)
        data = open(img, "rb").read()
    with open(os.path.join(quick, "generated_volume"), "wb") as f:
        f.write(b"\x00" + data)
    # first byte: 512-byte sectors, fed in blocks of 16 sectors (index 4) or 3 (index 2)
    with open(os.path.join(deep, "volume"), "wb") as f:
        f.write(bytes([4 << 1]) + data)
    for name, zeroed in (("no_main_boot", 12), ("no_boot", 24)):
        moved = bytearray(40 * 512) + bytearray(data[:len(data) - 40 * 512])
        moved[40 * 512:(40 + zeroed) * 512] = bytes(zeroed * 512)
        with open(os.path.join(deep, name), "wb") as f:
            f.write(bytes([2 << 1]) + bytes(moved))
    heap, count, root = struct.unpack_from("<III", data, 88)
    spc = 1 << data[109]

    def cluster(c):
        off = (heap + (c - 2) * spc) * 512
        return data[off:off + spc * 512]

    def fat(c):
        return struct.unpack_from("<I", data, struct.unpack_from("<I", data, 80)[0] * 512 + 4 * c)[0]

    chain, c = [], root
    while 2 <= c < count + 2 and c not in chain:
        chain.append(c)
        c = fat(c)
    root_dir = b"".join(cluster(c) for c in chain)
    # the root split after its second cluster; the first folder whole
    with open(os.path.join(sets, "root"), "wb") as f:
        f.write(bytes([2 * spc * 512 // 32 % 256]) + root_dir)
    i = 0
    while i < len(root_dir) and root_dir[i]:
        if root_dir[i] == 0x85 and root_dir[i + 4] & 0x10:
            first, length = struct.unpack_from("<IQ", root_dir, i + 52)
            folder = b"".join(cluster(first + k) for k in range((length + 511) // 512))
            with open(os.path.join(sets, "folder"), "wb") as f:
                f.write(b"\x05" + folder)
            break
        i += 32
    for name in sorted(os.listdir(quick)) + sorted(os.listdir(sets)) + sorted(os.listdir(deep)):
        print(name)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "fuzz/corpus")
