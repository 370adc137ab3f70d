#!/usr/bin/env python3
"""The whole-disk deep scan with every searcher on, against PhotoRec and
Sleuth Kit on the same 4 GiB disk, in the same run.

Makes (or reuses, with --keep) tests/fixtures/wholedisk/make.py --bench: a
GPT disk with FAT32, exFAT and NTFS volumes about 60% full of real files of
eight kinds (a third deleted), an HFS+ and an APFS volume. Then, one after
the other, each under /usr/bin/time -v (peak resident set):
  - ours: scan_driver --deep --recover OUT (partition controller, every
    searcher, then every file the trees show recovered); the scan's own time
    and the whole run's,
  - PhotoRec: photorec /d OUT/recup /cmd IMAGE
    partition_none,fileopt,everything,enable,wholespace,search,
  - Sleuth Kit: tsk_recover -e per FAT32, exFAT, NTFS and HFS+ volume.
Prints MB/s (image bytes over wall time), peak memory, and per kind how many
manifest files each gave back byte for byte: file-system files at their
path (ours: in a file system's tree; Sleuth Kit), carved files (ours: the
signature search's tree; PhotoRec), and in all. Run it from a Release build.

usage: wholedisk_bench.py --build BUILD_DIR [--keep DIR] [--skip-photorec]"""
import argparse
import collections
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
TSK = {"FAT32": "fat", "exFAT": "exfat", "NTFS": "ntfs", "HFS+": "hfs"}


def sha_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def walk(folder):
    """{relative path: sha256} of every file under folder."""
    out = {}
    for root, _, files in os.walk(folder):
        for n in files:
            p = os.path.join(root, n)
            out[os.path.relpath(p, folder)] = sha_file(p)
    return out


def timed(argv, env=None, cwd=None):
    """Wall seconds, peak resident set in KiB and the output of argv run under /usr/bin/time -v."""
    # Every timed run starts with nothing left to write back: the deep scan
    # begins with a sync of its own, and no tool should pay for the files the
    # run before it wrote (or the folder just deleted).
    os.sync()
    start = time.monotonic()
    r = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                       text=True, errors="replace", cwd=cwd)
    seconds = time.monotonic() - start
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr)
    return seconds, int(peak.group(1)) if peak else 0, r


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="a build folder with bin/scan_driver")
    ap.add_argument("--keep", help="make (or reuse) the image here and keep it")
    ap.add_argument("--skip-photorec", action="store_true")
    a = ap.parse_args()
    for tool in ("photorec", "tsk_recover"):
        if shutil.which(tool) is None:
            sys.exit("%s is missing (scripts/install-deps.sh)" % tool)
    build = os.path.abspath(a.build)
    work = a.keep or tempfile.mkdtemp(prefix="wholedisk_bench-")
    os.makedirs(work, exist_ok=True)
    image = os.path.join(work, "wholedisk_bench.img")
    if not os.path.exists(image):
        print("making the 4 GiB disk (a few minutes)...", flush=True)
        subprocess.run([sys.executable, os.path.join(SOURCE, "tests", "fixtures", "wholedisk", "make.py"), work,
                        "--bench"], check=True)
    manifest = json.load(open(os.path.splitext(image)[0] + ".json"))
    size_mb = os.path.getsize(image) / 1e6
    subprocess.run(["cat", image], stdout=subprocess.DEVNULL, check=True)  # into the page cache
    env = dict(os.environ, TZ="UTC")

    results = {}
    ours_dir = os.path.join(work, "ours")
    shutil.rmtree(ours_dir, ignore_errors=True)
    os.makedirs(ours_dir)
    s, peak, r = timed([os.path.join(build, "bin", "scan_driver"), "--deep", "--rounds", "1", "--recover", ours_dir,
                        image], env)
    scan_s = re.search(r"scan ([0-9.]+) s", r.stdout)
    # The tree builder waits one second for the interface after it hands
    # over each tree's root; the driver says how many.
    pauses = re.search(r"without the builder's pauses \((\d+) s\)", r.stdout)
    pauses = int(pauses.group(1)) if pauses else 0
    results["ours"] = (s, peak)
    print(r.stdout[r.stdout.find("round 1"):], flush=True)

    pr_dir = os.path.join(work, "photorec")
    shutil.rmtree(pr_dir, ignore_errors=True)
    os.makedirs(pr_dir)
    if not a.skip_photorec:
        results["photorec"] = timed(["photorec", "/log", "/d", os.path.join(pr_dir, "recup"), "/cmd", image,
                                     "partition_none,fileopt,everything,enable,wholespace,search"], cwd=pr_dir)[:2]

    tsk_dir = os.path.join(work, "tsk")
    shutil.rmtree(tsk_dir, ignore_errors=True)
    tsk_s, tsk_peak = 0.0, 0
    for v in manifest["volumes"]:
        if v["filesystem"] in TSK:
            dest = os.path.join(tsk_dir, "%d" % v["start_sector"])
            os.makedirs(dest)
            t, p, _ = timed(["tsk_recover", "-e", "-o", str(v["start_sector"]), "-f", TSK[v["filesystem"]], image,
                             dest])
            tsk_s += t
            tsk_peak = max(tsk_peak, p)
    results["tsk"] = (tsk_s, tsk_peak)

    # Who gave back what, byte for byte.
    ours = walk(ours_dir)
    ours_carved = {h for p, h in ours.items() if p.split(os.sep)[0].startswith(("RAW_", "Lable_RAW_"))}
    ours_named = {}
    for p, h in ours.items():
        if not p.split(os.sep)[0].startswith(("RAW_", "Lable_RAW_")):
            # numbered folder / volume folder / path
            ours_named.setdefault("/" + "/".join(p.split(os.sep)[2:]), set()).add(h)
    photorec = set(walk(pr_dir).values())
    tsk = {}
    for v in manifest["volumes"]:
        if v["filesystem"] in TSK:
            for p, h in walk(os.path.join(tsk_dir, "%d" % v["start_sector"])).items():
                tsk.setdefault((v["start_sector"], "/" + p), h)

    rows = collections.OrderedDict()
    for v in manifest["volumes"]:
        for e in v["files"]:
            if e["type"] != "file" or e["size"] == 0:
                continue
            kind = e.get("kind") or os.path.splitext(e["path"])[1].lstrip(".").lower() or "other"
            row = rows.setdefault(kind, collections.Counter())
            h = e["sha256"]
            named = h in ours_named.get(e["path"], set())
            carved = h in ours_carved
            pr = h in photorec
            tk = tsk.get((v["start_sector"], e["path"])) == h
            row["files"] += 1
            row["deleted"] += e["state"] == "deleted"
            row["ours named"] += named
            row["ours carved"] += carved
            row["ours"] += named or carved
            row["photorec"] += pr
            row["tsk"] += tk
            row["photorec+tsk"] += pr or tk
    total = collections.Counter()
    for row in rows.values():
        total.update(row)
    rows["all"] = total

    print("image: %.0f MB, %d volumes" % (size_mb, len(manifest["volumes"])))
    print("| tool | wall s | MB/s | peak RSS MiB |")
    print("|---|---|---|---|")
    for name, (secs, peak) in results.items():
        print("| %s | %.1f | %.1f | %.0f |" % (name, secs, size_mb / secs if secs else 0, peak / 1024))
    if scan_s:
        print("ours, scan alone (driver's figure): %s s, %.1f MB/s" % (scan_s.group(1),
                                                                    size_mb / float(scan_s.group(1))))
    if "photorec" in results:
        print("ours / PhotoRec MB/s: %.2fx" % (results["photorec"][0] / results["ours"][0]))
        if pauses:
            print("without the tree builder's pauses (%d s): ours %.1f s, %.2fx PhotoRec" %
                  (pauses, results["ours"][0] - pauses, results["photorec"][0] / (results["ours"][0] - pauses)))
    cols = ["files", "deleted", "ours named", "ours carved", "ours", "photorec", "tsk", "photorec+tsk"]
    print("| kind | " + " | ".join(cols) + " |")
    print("|---" * (len(cols) + 1) + "|")
    for kind, row in rows.items():
        print("| %s | " % kind + " | ".join(str(row[c]) for c in cols) + " |")
    if not a.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
