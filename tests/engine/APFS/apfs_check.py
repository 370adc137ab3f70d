#!/usr/bin/env python3
"""What the APFS deep scan must show for a fixture manifest, and a check of
a folder of recovered files against it.

usage: apfs_check.py expect MANIFEST [SECTOR_SIZE]
       apfs_check.py recovered MANIFEST FOLDER

The deep scan shows names as they are (leading dots and ".DS_Store"
included). `expect` prints one line per entry:
    F<TAB>path<TAB>state<TAB>size<TAB>mtime<TAB>runs
    D<TAB>path<TAB>state
runs: "start:length" in sectors relative to the container, comma separated,
start -1 for a hole (extents with physical block 0 and gaps between extents).
`recovered` wants every file (deleted ones too: the generator knows their
bytes) at its shown path with its size, SHA-256 and modification time; it
prints one line per problem and "checked N", and exits 1 on a problem."""
import hashlib
import json
import os
import sys

BS = 4096


def entries(manifest):
    with open(manifest, encoding="utf-8") as f:
        m = json.load(f)
    for vol in m["volumes"]:
        for e in vol["files"]:
            yield vol, e


def runs(e, sector_size):
    out, at = [], 0
    for x in sorted(e.get("extents", []), key=lambda x: x["logical_offset"]):
        start = x["logical_offset"] // sector_size
        if start > at:
            out.append((-1, start - at))
            at = start
        length = (x["length"] + sector_size - 1) // sector_size
        phys = x["physical_block"] * BS // sector_size if x["physical_block"] else -1
        if out and phys >= 0 and out[-1][0] >= 0 and out[-1][0] + out[-1][1] == phys:
            out[-1] = (out[-1][0], out[-1][1] + length)
        else:
            out.append((phys, length))
        at += length
    return ",".join("%d:%d" % r for r in out)


def expect(manifest, sector_size):
    for _, e in entries(manifest):
        path = e["path"]
        if e["type"] == "dir":
            print("D\t%s\t%s" % (path, e["state"]))
        else:
            print("F\t%s\t%s\t%d\t%d\t%s" % (path, e["state"], e["size"], e["times"]["mtime"],
                                          runs(e, sector_size)))
    return 0


def recovered(manifest, folder):
    problems = checked = 0
    for _, e in entries(manifest):
        if e["type"] == "dir":
            continue
        checked += 1
        p = os.path.join(folder, e["path"].lstrip("/"))
        if not os.path.isfile(p):
            print("missing file %s (%s)" % (e["path"], e["state"]))
            problems += 1
            continue
        with open(p, "rb") as f:
            data = f.read()
        if len(data) != e["size"]:
            print("size %s: %d, expected %d" % (e["path"], len(data), e["size"]))
            problems += 1
        elif hashlib.sha256(data).hexdigest() != e["sha256"]:
            print("bytes differ %s" % e["path"])
            problems += 1
        if int(os.stat(p).st_mtime) != e["times"]["mtime"]:
            print("mtime %s: %d, expected %d" % (e["path"], int(os.stat(p).st_mtime), e["times"]["mtime"]))
            problems += 1
    print("checked %d" % checked)
    return 1 if problems else 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "expect":
        return expect(argv[2], int(argv[3]) if len(argv) > 3 else 512)
    if len(argv) == 4 and argv[1] == "recovered":
        return recovered(argv[2], argv[3])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
