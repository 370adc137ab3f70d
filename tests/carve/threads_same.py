#!/usr/bin/env python3
"""A deep scan whose signature search looks at the blocks on a thread of its
own finds exactly what the same scan finds on the scan's thread alone.

Every image of the table is deep-scanned twice, with and without the search
thread, and the two node lists must be equal: the same nodes (tree, path,
size, deleted flag, first run) in the same order within each tree. The
carve layouts also compare the bytes recovered for each carved file, in
order.

The table: the five carve layouts (mkimage.py), a wiped FAT32 volume of
files of every analyser family (make_volume.py --mix all), and every disk
and volume image the fixture stage made (tests/fixtures, when --fixtures
names its folder and it exists).

usage: threads_same.py --driver SCAN_DRIVER --carve CARVE_SCAN --work DIR
                       [--fixtures DIR] [--wiped-mib N]
"""
import argparse
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LAYOUTS = ("clean", "dirty", "straddle", "crowd", "4k")
FIXTURE_FOLDERS = ("fat", "exfat", "ntfs", "ntfs_compressed", "fatdeep", "hfsplus", "apfs", "disks",
                   "wholedisk")


def run(args):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace")
    if done.returncode != 0:
        print(done.stdout[-3000:])
        raise SystemExit("failed: %s" % " ".join(args))


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def carve_listing(carve, image, sector, out, one_thread):
    recovered = out + ".files"
    shutil.rmtree(recovered, ignore_errors=True)
    os.makedirs(recovered)
    args = [carve, image, "--sector-size", str(sector), "--recover", recovered, "--list", out]
    run(args + (["--one-thread"] if one_thread else []))
    rows = []
    with open(out) as f:
        for line in f:
            tree, path, first, size, copy = line.rstrip("\n").split("\t")
            rows.append((tree, path, first, size, digest(copy)))
    shutil.rmtree(recovered)
    return rows


def driver_listing(driver, image, sector, out, one_thread):
    args = [driver, "--deep", "--rounds", "1", "--sector-size", str(sector), "--list", out,
            "--shown-order", image]
    run(args + (["--one-thread"] if one_thread else []))
    with open(out) as f:
        return [tuple(line.rstrip("\n").split("\t")) for line in f]


def by_tree(rows):
    """Rows grouped by tree, in their order within it: trees may be shown
    interleaved differently, each tree's own order must not change."""
    trees = {}
    for row in rows:
        trees.setdefault(row[0], []).append(row)
    return trees


def compare(name, threaded, alone):
    a, b = by_tree(threaded), by_tree(alone)
    if a == b:
        print("same   %-40s %6d nodes in %d trees" % (name, len(threaded), len(a)))
        return True
    print("DIFFER %s" % name)
    for tree in sorted(set(a) | set(b)):
        x, y = a.get(tree, []), b.get(tree, [])
        if x == y:
            continue
        print("  tree %s: %d nodes threaded, %d alone" % (tree, len(x), len(y)))
        for i, (p, q) in enumerate(zip(x, y)):
            if p != q:
                print("  first difference at %d:\n    threaded %s\n    alone    %s" % (i, p, q))
                break
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--driver", required=True)
    ap.add_argument("--carve", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--fixtures")
    ap.add_argument("--wiped-mib", type=int, default=512)
    a = ap.parse_args()
    work = os.path.join(a.work, "threads_same")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    # (name, image, sector size, lister)
    table = []
    for layout in LAYOUTS:
        out = os.path.join(work, layout)
        run([sys.executable, os.path.join(HERE, "mkimage.py"), "--samples", os.path.join(HERE, "samples"),
             "--layout", layout, "--out", out])
        sector = json.load(open(os.path.join(out, layout + ".json")))["sector_size"]
        table.append(("carve " + layout, os.path.join(out, layout + ".img"), sector, carve_listing))
    wiped = os.path.join(work, "wiped")
    made = subprocess.run([sys.executable, os.path.join(HERE, "make_volume.py"), wiped, "--size-mib",
                           str(a.wiped_mib), "--mix", "all"], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace")
    if made.returncode == 0:
        table.append(("wiped FAT32, every family", os.path.join(wiped, "volume.img"), 512, carve_listing))
    else:
        print("no wiped volume: make_volume.py failed\n" + made.stdout[-1500:])
        return 1
    if a.fixtures and os.path.isdir(a.fixtures):
        for folder in FIXTURE_FOLDERS:
            for image in sorted(glob.glob(os.path.join(a.fixtures, folder, "*.img"))):
                name = os.path.relpath(image, a.fixtures)
                sector = 4096 if "_4k" in os.path.basename(image) else 512
                table.append((name, image, sector, driver_listing))
    else:
        print("no fixture images (run the fixtures test first): carve images only")

    ok = True
    for name, image, sector, lister in table:
        base = os.path.join(work, "list-" + name.replace("/", "_").replace(" ", "_").replace(",", ""))
        threaded = lister(a.driver if lister is driver_listing else a.carve, image, sector,
                          base + "-threaded", False)
        alone = lister(a.driver if lister is driver_listing else a.carve, image, sector,
                       base + "-alone", True)
        if not threaded and lister is carve_listing:
            print("  (%s: nothing carved)" % name)
        ok = compare(name, threaded, alone) and ok
    shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
