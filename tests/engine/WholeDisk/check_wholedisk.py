#!/usr/bin/env python3
"""Compares what a whole-disk deep scan recovered (scan_driver --recover
OUT) with the disk's manifest (tests/fixtures/wholedisk) and, per volume,
with what Sleuth Kit's tsk_recover -e gives.

usage: check_wholedisk.py MANIFEST OUT IMAGE [--unreadable OFFSET:LENGTH]
                          [--tsk DIR] [--expect-missing FS=REASON ...]

Each volume must be found: its file system's folder of OUT (as the program
names it) holds its files at their paths, live and deleted ones, byte for
byte. A file with a byte in the unreadable span is not asked for. The old
files of a volume formatted over (`reformatted_over`) are asked for by
content anywhere in OUT, where their clusters still hold them (`intact`) and
they lie in one piece. HFS+ and APFS names follow their readers' rules
(hfsplus/ and apfs/ checkers). --expect-missing names a file system whose
volumes the scan cannot find yet, with the reason: a volume of it that is not
found is reported as an expected failure; one that is found is checked in full.
Given a file kind (jpg, pdf, mp3...) instead, a missing old file of that kind
on a volume formatted over is an expected failure.

With --tsk DIR, tsk_recover -e is run per FAT32, exFAT, NTFS and HFS+
volume into DIR, and every manifest file it gives back byte for byte must be
among ours too.

Prints one line per problem, a summary table, and exits 1 on a problem."""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# The folder the program makes for each searcher's tree (RecoveryOutput).
PREFIX = {"FAT32": "Fat_", "exFAT": "ExFat_", "NTFS": "", "HFS+": "HFS+_", "APFS": "APFS_"}
TSK = {"FAT32": "fat", "exFAT": "exfat", "NTFS": "ntfs", "HFS+": "hfs"}


def sha_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def tree_folders(out, fs):
    """The tree folders under the file system's numbered folder(s), and the
    volume folders in them."""
    prefix = PREFIX[fs]
    found = []
    for top in sorted(os.listdir(out)):
        path = os.path.join(out, top)
        if not os.path.isdir(path):
            continue
        if prefix:
            ok = top.startswith(prefix)
        else:  # NTFS has no prefix of its own: a bare number
            ok = top.isdigit()
        if ok:
            for inner in sorted(os.listdir(path)):
                tree = os.path.join(path, inner)
                found.append(tree)
                # A deep scan gives each volume it found a folder of its own.
                if os.path.isdir(tree):
                    found += [os.path.join(tree, v) for v in sorted(os.listdir(tree))
                              if os.path.isdir(os.path.join(tree, v))]
    return found


def shown_path(fs, path):
    # Every file system's names are shown as they are, leading dots included.
    return path


def asked(fs, e):
    """Whether a manifest entry is a file the scan must give back."""
    if e["type"] != "file":
        return False
    if fs == "HFS+" and "HFS+ Private Data" in e["path"]:
        return False
    return True


def file_sectors(v, e):
    """Byte ranges of a payload file on the disk, where the manifest knows them."""
    if "clusters" not in e or "fat_geometry" not in v:
        return None
    bps, spc, first_data = v["fat_geometry"]
    return [(v["offset"] + (first_data + (a - 2) * spc) * bps, (b - a + 1) * spc * bps) for a, b in e["clusters"]]


def touches(ranges, span):
    if not span or ranges is None:
        return False
    s, n = span
    return any(a < s + n and s < a + length for a, length in ranges)


def all_hashes(out):
    h = {}
    for root, _, files in os.walk(out):
        for n in files:
            p = os.path.join(root, n)
            h.setdefault(sha_file(p), p)
    return h


def run_tsk(image, v, dest):
    os.makedirs(dest, exist_ok=True)
    r = subprocess.run(["tsk_recover", "-e", "-o", str(v["start_sector"]), "-f", TSK[v["filesystem"]], image, dest],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        return None
    return dest


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("manifest")
    ap.add_argument("out")
    ap.add_argument("image")
    ap.add_argument("--unreadable")
    ap.add_argument("--tsk")
    ap.add_argument("--expect-missing", action="append", default=[])
    a = ap.parse_args()
    m = json.load(open(a.manifest, encoding="utf-8"))
    span = tuple(int(x) for x in a.unreadable.split(":")) if a.unreadable else None
    missing_ok = dict(x.split("=", 1) for x in a.expect_missing)
    problems = []
    rows = []
    hashes = all_hashes(a.out)
    for v in m["volumes"]:
        fs = v["filesystem"]
        name = "%s %s @%d" % (fs, v.get("label", ""), v["start_sector"])
        files = [e for e in v["files"] if asked(fs, e)]
        if v.get("reformatted_over"):
            want = [e for e in files if e.get("intact") and len(e["clusters"]) == 1
                    and not touches(file_sectors(v, e), span)]
            got = [e for e in want if e["sha256"] in hashes]
            for e in want:
                if e["sha256"] in hashes:
                    continue
                if e["kind"] in missing_ok:
                    print("XFAIL %s: old file %s not recovered: %s" % (name, e["path"], missing_ok[e["kind"]]))
                else:
                    problems.append("%s: old file %s (%s) not recovered" % (name, e["path"], e["kind"]))
            rows.append((name + " (formatted over)", len(files), len(want), len(got), "-"))
            continue
        folders = tree_folders(a.out, fs)
        hits = 0
        ok = 0
        bad = []
        want = [e for e in files if not touches(file_sectors(v, e), span)]
        for e in want:
            path = shown_path(fs, e["path"]).lstrip("/")
            where = [os.path.join(f, path) for f in folders if os.path.isfile(os.path.join(f, path))]
            if where:
                hits += 1
            sha = e.get("sha256")
            if any(os.path.getsize(p) == e["size"] and sha_file(p) == sha for p in where):
                ok += 1
            else:
                bad.append("%s: %s (%s) %s" % (name, e["path"], e["state"],
                                                "bytes differ" if where else "not recovered"))
        found = hits > 0
        if not found and fs in missing_ok:
            print("XFAIL %s not found: %s" % (name, missing_ok[fs]))
            rows.append((name, len(files), len(want), 0, "xfail"))
            continue
        if not found:
            problems.append("%s: volume not found (none of its files at their paths)" % name)
        else:
            problems += bad
        tsk_ok = "-"
        if a.tsk and fs in TSK and shutil.which("tsk_recover"):
            dest = run_tsk(a.image, v, os.path.join(a.tsk, "%s_%d" % (fs.replace("+", "p"), v["start_sector"])))
            if dest is not None:
                theirs = 0
                for e in want:
                    p = os.path.join(dest, e["path"].lstrip("/"))
                    if os.path.isfile(p) and sha_file(p) == e["sha256"]:
                        theirs += 1
                        path = shown_path(fs, e["path"]).lstrip("/")
                        ours = [os.path.join(f, path) for f in folders]
                        if not any(os.path.isfile(q) and sha_file(q) == e["sha256"] for q in ours):
                            problems.append("%s: Sleuth Kit gives back %s, we do not" % (name, e["path"]))
                tsk_ok = str(theirs)
        rows.append((name, len(files), len(want), ok, tsk_ok))
    for p in problems:
        print(p)
    print("%-34s %6s %6s %6s %6s" % ("volume", "files", "asked", "ours", "tsk"))
    for r in rows:
        print("%-34s %6d %6d %6d %6s" % r)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
