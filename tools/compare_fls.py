#!/usr/bin/env python3
"""Compares a FAT scan listing of the scan driver (--list) with Sleuth Kit.

usage: compare_fls.py IMAGE LISTING [--sector-size N]

Every live file and folder fls -r -p -l lists must be in the listing with the
same path, the same size (files) and deleted flag 0; every deleted file fls
lists must be there as deleted with the same size, its name compared without
its first character (FAT keeps no first byte of a deleted short name: fls
shows "_", the engine "#"). For every live file with data, the first cluster
istat gives must be the listing's first run. Prints one line per problem and
"compared N"; exits 1 when any was found, 77 when Sleuth Kit is missing.
"""
import re
import shutil
import subprocess
import sys


def run(args):
    return subprocess.run(args, check=True, capture_output=True, text=True,
                          errors="surrogateescape").stdout


def layout(image, size_args):
    """(first sector of cluster 2, sectors per cluster)."""
    out = run(["fsstat"] + size_args + [image])
    area = re.search(r"Cluster Area: (\d+) -", out)
    sector = re.search(r"Sector Size: (\d+)", out)
    cluster = re.search(r"Cluster Size: (\d+)", out)
    if not (area and sector and cluster):
        raise SystemExit("fsstat gave no cluster layout")
    return int(area.group(1)), int(cluster.group(1)) // int(sector.group(1))


def fls_entries(image, size_args):
    """(path, is_dir, deleted, size, inode) of every entry fls lists."""
    entries = []
    for line in run(["fls", "-r", "-p", "-l"] + size_args + [image]).splitlines():
        head, _, rest = line.partition(":\t")
        fields = rest.split("\t")
        if len(fields) < 6:
            continue
        kind = head.split()[0]
        deleted = "*" in head.split()
        if kind.startswith("v/") or "(Volume Label Entry)" in fields[0]:
            continue
        path = fields[0]
        if path.rsplit("/", 1)[-1].startswith("$"):
            continue
        inode = head.split()[-1].split("-")[0]
        entries.append((path, kind.startswith("d/"), deleted, int(fields[5]), inode))
    return entries


def masked(path):
    head, _, name = path.rpartition("/")
    return (head + "/" if head else "") + name[1:]


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    image, listing = argv[1], argv[2]
    size_args = []
    if len(argv) >= 5 and argv[3] == "--sector-size" and argv[4] != "512":
        size_args = ["-b", argv[4]]
    for tool in ("fls", "istat", "fsstat"):
        if shutil.which(tool) is None:
            print("missing %s (Sleuth Kit)" % tool)
            return 77

    ours = {}
    deleted_ours = {}
    for line in open(listing, encoding="utf-8", errors="surrogateescape"):
        fields = line.rstrip("\n").split("\t")
        if len(fields) != 5:
            print("listing line not in five fields: %r" % line)
            return 1
        _, path, size, deleted, run_ = fields
        is_dir = path.endswith("/")
        path = path.rstrip("/")
        record = (is_dir, int(size), run_)
        if deleted == "1":
            deleted_ours.setdefault(masked(path), []).append(record)
        else:
            ours[path] = record

    area, spc = layout(image, size_args)
    problems = 0
    compared = 0
    for path, is_dir, deleted, size, inode in fls_entries(image, size_args):
        compared += 1
        if deleted:
            if is_dir:
                continue  # a deleted folder's size is not the file system's to give
            found = deleted_ours.get(masked(path), [])
            if not any(not d and s == size for d, s, _ in found):
                print("deleted %s (%d bytes) not listed as deleted" % (path, size))
                problems += 1
            continue
        if path not in ours:
            print("live %s not listed" % path)
            problems += 1
            continue
        our_dir, our_size, our_run = ours[path]
        if our_dir != is_dir:
            print("%s: folder %s, fls %s" % (path, our_dir, is_dir))
            problems += 1
        if not is_dir and our_size != size:
            print("%s: %d bytes, fls %d" % (path, our_size, size))
            problems += 1
        if not is_dir and size > 0:
            sectors = run(["istat"] + size_args + [image, inode]).split("Sectors:", 1)[-1].split()
            if sectors:
                want = (int(sectors[0]) - area) // spc
                if our_run == "-" or int(our_run.split("+")[0]) != want:
                    print("%s: first run %s, istat cluster %d" % (path, our_run, want + 2))
                    problems += 1
    print("compared %d" % compared)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
