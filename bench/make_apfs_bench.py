#!/usr/bin/env python3
"""A 1 GiB APFS container for the deep-scan benchmark: mkapfs, then FILES
files (default 3000) in file-system tree leaves that no object map lists,
spread over the container as a deep scan meets the nodes of older
transactions: the searcher finds them on the surface and merges their
records. Each file has one extent; its data blocks are left as mkapfs left
them (the benchmark does not recover).

usage: make_apfs_bench.py OUT.img [FILES]"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures", "apfs"))
import mkapfs_fixture as fx  # noqa: E402

PER_LEAF = 12
FIRST_LEAF = 40000
LEAF_STRIDE = 64          # blocks between two leaves
FIRST_DATA = 140000


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit(__doc__)
    out = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) == 3 else 3000
    fx.run_mkapfs(out, 2 * fx.SIZE)
    img = fx.Image(out)
    oid = 1000
    for leaf in range(0, (files + PER_LEAF - 1) // PER_LEAF):
        recs = []
        for i in range(min(PER_LEAF, files - leaf * PER_LEAF)):
            n = leaf * PER_LEAF + i
            size = 1000 + 37 * n
            recs += fx.file_records(oid, fx.ROOT, "file%05d.dat" % n, b"x" * size,
                                    [(0, 1, FIRST_DATA + n)])
            oid += 1
        img.write(FIRST_LEAF + leaf * LEAF_STRIDE,
                  fx.build_node(recs, 5000 + leaf, 1, fx.OBJ_BTREE_NODE, fx.SUB_FSTREE, fx.NODE_LEAF))
    img.close()
    print("made %s: %d files in %d lost leaves" % (out, files, (files + PER_LEAF - 1) // PER_LEAF))
    return 0


if __name__ == "__main__":
    sys.exit(main())
