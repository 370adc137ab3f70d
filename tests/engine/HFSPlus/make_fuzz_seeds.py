#!/usr/bin/env python3
"""Writes the seeds of the HFS+ fuzz targets from the fixture generator's
volume (tests/fixtures/hfsplus/mkhfsplus.py) and its LZVN encoder.

usage: make_fuzz_seeds.py CORPUS_ROOT      (normally fuzz/corpus)"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "fixtures", "hfsplus"))
import lzvn  # noqa: E402
import mkhfsplus as mk  # noqa: E402

BS = mk.BS


def write(root, target, name, data):
    folder = os.path.join(root, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as fh:
        fh.write(data)


def main(root):
    img, _ = mk.build(False, False)
    hfsx, _ = mk.build(False, True)
    # B-tree nodes: one byte naming the tree (0 catalog, 1 extents, 2
    # attributes), then the node.
    cat = mk.CAT_BLK * BS
    root_node = struct.unpack_from(">I", img, cat + 14 + 2)[0]
    write(root, "fuzz_hfs_btree_node", "catalog_leaf", b"\0" + img[cat + mk.CAT_NS:cat + 2 * mk.CAT_NS])
    write(root, "fuzz_hfs_btree_node", "catalog_index",
          b"\0" + img[cat + root_node * mk.CAT_NS:cat + (root_node + 1) * mk.CAT_NS])
    write(root, "fuzz_hfs_btree_node", "extents_leaf",
          b"\1" + img[mk.EXT_BLK * BS + mk.EXT_NS:mk.EXT_BLK * BS + 2 * mk.EXT_NS])
    write(root, "fuzz_hfs_btree_node", "attributes_leaf",
          b"\2" + img[mk.ATT_BLK * BS + mk.ATT_NS:mk.ATT_BLK * BS + 2 * mk.ATT_NS])
    # Volumes: everything up to the journal info block (header, bitmap and
    # the three trees).
    write(root, "fuzz_hfs_volume", "hfsplus_metadata", img[:mk.JIB_BLK * BS])
    write(root, "fuzz_hfs_volume", "hfsx_metadata", hfsx[:mk.JIB_BLK * BS])
    # Journal: the first 64 KiB of the buffer (header and the transaction),
    # its size field set to match.
    j = bytearray(img[mk.JNL_BLK * BS:mk.JNL_BLK * BS + 65536])
    struct.pack_into("<Q", j, 24, len(j))
    write(root, "fuzz_hfs_journal", "transaction", bytes(j))
    # LZVN streams.
    text = mk.text(30, b"lzinline")
    write(root, "fuzz_hfs_lzvn", "text", lzvn.encode(text))
    write(root, "fuzz_hfs_lzvn", "pattern", lzvn.encode(mk.pattern(4000, 3)))
    # Compressed files: type byte, 8-byte size, then the inline data or the
    # resource fork.
    def comp(ctype, size, data):
        return struct.pack("<BQ", ctype, size) + data
    write(root, "fuzz_hfs_compressed", "zlib_inline", comp(3, len(text), zlib.compress(text, 9)))
    write(root, "fuzz_hfs_compressed", "lzvn_inline", comp(7, len(text), lzvn.encode(text)))
    mixed = mk.text(600, b"mixed")[:65536] + mk.noise(9000, 1)
    write(root, "fuzz_hfs_compressed", "zlib_rsrc", comp(4, len(mixed), mk.zlib_rsrc(mixed)[0]))
    write(root, "fuzz_hfs_compressed", "lzvn_rsrc", comp(8, len(mixed), mk.lzvn_rsrc(mixed)[0]))
    # Deep search: a small generated volume at sector 40 of a disk, behind
    # the byte that picks the scan's block (15: 16 sectors), whole and with
    # its header zeroed (only the backup left).
    many = os.path.join(HERE, "..", "..", "fixtures", "hfsplus", "mkhfsplus_many.py")
    with tempfile.TemporaryDirectory() as tmp:
        disk = os.path.join(tmp, "disk.img")
        subprocess.run([sys.executable, many, disk, "--files", "12", "--offset-sectors", "40"], check=True,
                       stdout=subprocess.DEVNULL)
        with open(disk, "rb") as fh:
            data = bytearray(fh.read())
    end = len(data)
    while end > 0 and data[end - 1] == 0:
        end -= 1
    data = data[:(end + 1024 + 511) // 512 * 512]
    write(root, "fuzz_hfs_deep_sector", "volume_at_40", b"\x0f" + bytes(data))
    data[42 * 512:43 * 512] = bytes(512)
    write(root, "fuzz_hfs_deep_sector", "backup_header_only", b"\x0f" + bytes(data))


if __name__ == "__main__":
    main(sys.argv[1])
