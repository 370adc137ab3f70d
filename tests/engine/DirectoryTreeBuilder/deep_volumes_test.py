#!/usr/bin/env python3
"""Deep scans of disks holding two volumes made alike (tests/fixtures/multivol:
the same folders, the same cluster numbers, files of the same names), by the
scan driver: each volume must be its own folder of the tree, named by its
label, holding its own files only. Held against Sleuth Kit run on each volume
alone (fls -o, icat -o): the same paths (count in = count out) and the same
bytes, in the listing, in the recovered folders, and again after the result
is saved and loaded back.

usage: deep_volumes_test.py --driver SCAN_DRIVER --source SOURCE_DIR
Exit 77 when the fixtures cannot be made here (a tool missing)."""
import argparse
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def sha(data):
    return hashlib.sha256(data).hexdigest()


def tsk_files(image, offset):
    """{path: bytes} of the live files of the volume at `offset`, by Sleuth Kit."""
    out = subprocess.run(["fls", "-r", "-p", "-F", "-u", "-o", str(offset // 512), image],
                         stdout=subprocess.PIPE, check=True).stdout.decode()
    files = {}
    for line in out.splitlines():
        meta, _, path = line.partition("\t")
        if "(Volume Label Entry)" in path or not meta.startswith("r/r"):
            continue
        inode = meta.split()[-1].rstrip(":")
        files[path] = subprocess.run(["icat", "-o", str(offset // 512), image, inode],
                                     stdout=subprocess.PIPE, check=True).stdout
    return files


def listing_files(path):
    """{path: size} of the files of the FAT tree in a scan driver listing."""
    files = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            kind, p, size = line.rstrip("\n").split("\t")[:3]
            if kind == "32" and not p.endswith("/"):
                files[p] = int(size)
    return files


def recovered_files(out):
    """{path below the tree's folder: bytes} of a recovery."""
    tops = glob.glob(os.path.join(out, "Fat_*", "*"))
    if len(tops) != 1:
        return None
    files = {}
    for root, _, names in os.walk(tops[0]):
        for n in names:
            p = os.path.join(root, n)
            with open(p, "rb") as f:
                files[os.path.relpath(p, tops[0])] = f.read()
    return files


def run_driver(driver, args, image):
    r = subprocess.run([driver, "--deep", "--rounds", "1"] + args + [image], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"))
    if r.returncode != 0:
        print(r.stdout.decode(errors="replace")[-3000:])
    return r.returncode


def check(name, expected, listed, recovered):
    """Problems of one pass: every volume's files under its label only."""
    problems = []
    if recovered is None:
        return ["%s: not one recovered tree folder" % name]
    want_paths = {p: len(b) for p, b in expected.items()}
    if listed != want_paths:
        problems.append("%s: listing differs: missing %s, extra %s" % (
            name, sorted(set(want_paths) - set(listed)), sorted(set(listed) - set(want_paths))))
        problems += ["%s: %s listed with %d bytes, not %d" % (name, p, listed[p], n)
                     for p, n in want_paths.items() if p in listed and listed[p] != n]
    if set(recovered) != set(expected):
        problems.append("%s: recovered files differ: missing %s, extra %s" % (
            name, sorted(set(expected) - set(recovered)), sorted(set(recovered) - set(expected))))
    problems += ["%s: %s differs from Sleuth Kit's bytes" % (name, p)
                 for p, b in expected.items() if p in recovered and sha(recovered[p]) != sha(b)]
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--driver", required=True)
    ap.add_argument("--source", required=True)
    a = ap.parse_args()
    if shutil.which("fls") is None or shutil.which("icat") is None:
        print("SKIP: Sleuth Kit missing")
        return SKIP
    work = tempfile.mkdtemp(prefix="deep-volumes-")
    try:
        fixtures = os.path.join(work, "fixtures")
        r = subprocess.run([sys.executable, os.path.join(a.source, "tests", "fixtures", "multivol", "make.py"),
                            fixtures])
        if r.returncode != 0:
            return r.returncode
        problems = []
        for manifest_path in sorted(glob.glob(os.path.join(fixtures, "*.json"))):
            m = json.load(open(manifest_path, encoding="utf-8"))
            image = os.path.join(fixtures, m["image"])
            expected = {}
            for v in m["volumes"]:
                files = tsk_files(image, v["offset"])
                # The manifest and Sleuth Kit agree on what the volume holds.
                made = {e["path"].lstrip("/"): e["sha256"] for e in v["files"]}
                if {p: sha(b) for p, b in files.items()} != made:
                    problems.append("%s %s: Sleuth Kit disagrees with the manifest" % (m["image"], v["label"]))
                expected.update({os.path.join(v["label"], p): b for p, b in files.items()})
            tag = os.path.splitext(m["image"])[0]
            listing, out, saved = (os.path.join(work, tag + x) for x in (".scan.txt", ".scan", ".Velmora"))
            if run_driver(a.driver, ["--list", listing, "--recover", out, "--save", saved], image) != 0:
                problems.append("%s: scan failed" % m["image"])
                continue
            problems += check(m["image"] + " scan", expected, listing_files(listing), recovered_files(out))
            listing2, out2 = (os.path.join(work, tag + x) for x in (".load.txt", ".load"))
            if run_driver(a.driver, ["--load", saved, "--list", listing2, "--recover", out2], image) != 0:
                problems.append("%s: load failed" % m["image"])
                continue
            problems += check(m["image"] + " loaded", expected, listing_files(listing2), recovered_files(out2))
            print("%s: %d files in %d volumes" % (m["image"], len(expected), len(m["volumes"])))
        for p in problems:
            print("PROBLEM:", p)
        return 1 if problems else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
