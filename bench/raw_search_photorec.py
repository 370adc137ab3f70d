#!/usr/bin/env python3
"""The signature search against PhotoRec on the same image, in the same run.

Makes a FAT32 image of real files of the carved types (JPEG and the
header-sized ones; tests/carve/make_volume.py, Debian tools) and wipes its
file system, then:
  - scans it with the engine's deep scan (scan_driver, median of --rounds),
  - scans it and recovers every carved file (carve_scan, timed whole),
  - runs PhotoRec on it: photorec /d OUT/recup /cmd IMAGE
    partition_none,fileopt,everything,enable,wholespace,search
  - and Sleuth Kit's tsk_recover -e (every file its file system still names),
and prints each one's MB/s and, per type, how many source files each tool
gave back byte for byte. Each timed run starts after a sync.

usage: raw_search_photorec.py --build BUILD_DIR [--size-mib 2048] [--rounds 3] [--keep DIR]
                              [--mix carved|all|media]"""
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


def hashes(folder):
    out = set()
    for root, _, files in os.walk(folder):
        for f in files:
            with open(os.path.join(root, f), "rb") as fh:
                out.add(hashlib.sha256(fh.read()).hexdigest())
    return out


def timed(args, env=None):
    # Every timed run starts with nothing left to write back: the deep scan
    # begins with a sync of its own, and no tool should pay for the files the
    # run before it wrote (or the folder just deleted).
    os.sync()
    start = time.monotonic()
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, text=True,
                          errors="replace")
    return time.monotonic() - start, done


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="a build folder with bin/scan_driver and tests/carve_scan")
    ap.add_argument("--size-mib", type=int, default=2048)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--keep", help="make (or reuse) the image here and keep it")
    ap.add_argument("--mix", choices=("carved", "all", "media"), default="carved",
                    help="all: files of every analyser family the volume maker knows, not only JPEG and the "
                         "header-sized types; media: a card of large photos, MP3s, WAVs, PDFs and ZIPs whose "
                         "first 64 MiB are zeroed")
    a = ap.parse_args()
    if shutil.which("photorec") is None:
        sys.exit("photorec is missing (testdisk; scripts/install-deps.sh)")
    build = os.path.abspath(a.build)
    work = a.keep or tempfile.mkdtemp(prefix="raw_search_bench-")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, TZ="UTC", VELMORA_WORK_PATH=os.path.join(build, "tests", "work"))
    manifest_path = os.path.join(work, "volume.json")
    if not os.path.exists(manifest_path):
        print("making a %d MiB FAT32 image of real files (Debian tools)..." % a.size_mib, flush=True)
        subprocess.run([sys.executable, os.path.join(SOURCE, "tests", "carve", "make_volume.py"), work,
                        "--size-mib", str(a.size_mib), "--mix", a.mix], check=True)
    manifest = json.load(open(manifest_path))
    image = manifest["image"]
    size_mb = os.path.getsize(image) / 1e6
    subprocess.run(["cat", image], stdout=subprocess.DEVNULL, check=True)  # into the page cache

    # Each scan with the signature search on a thread of its own and, for
    # comparison, on the scan's thread (--one-thread).
    modes = (("threaded", []), ("one thread", ["--one-thread"]))
    scan = {}
    for name, flag in modes:
        driver = subprocess.run([os.path.join(build, "bin", "scan_driver"), "--deep", "--rounds", str(a.rounds)] +
                                flag + [image], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                env=env)
        median = re.search(r"median: plain read ([0-9.]+) MB/s, scan ([0-9.]+) MB/s", driver.stdout)
        bare = re.search(r"median without the builder's pauses \(([0-9]+) s\): scan ([0-9.]+) MB/s", driver.stdout)
        scan[name] = (float(median.group(1)) if median else 0.0, float(median.group(2)) if median else 0.0,
                      float(bare.group(2)) if bare else 0.0, int(bare.group(1)) if bare else 0)

    ours_dir = os.path.join(work, "ours")
    recover_s = {}
    for name, flag in reversed(modes):  # the threaded one last: its files are compared
        shutil.rmtree(ours_dir, ignore_errors=True)
        os.makedirs(ours_dir)
        recover_s[name], run = timed([os.path.join(build, "tests", "carve_scan"), image, "--sector-size", "512",
                                      "--recover", ours_dir, "--list", os.path.join(work, "ours.tsv")] + flag, env)
        if run.returncode != 0:
            print(run.stdout[-2000:])
            sys.exit("carve_scan failed")
    ours_s = recover_s["threaded"]
    scan_rate = scan["threaded"][1]

    pr_dir = os.path.join(work, "photorec")
    shutil.rmtree(pr_dir, ignore_errors=True)
    os.makedirs(pr_dir)
    pr_s, _ = timed(["photorec", "/d", os.path.join(pr_dir, "recup"), "/cmd", image,
                     "partition_none,fileopt,everything,enable,wholespace,search"])

    tsk_dir = os.path.join(work, "tsk")
    shutil.rmtree(tsk_dir, ignore_errors=True)
    os.makedirs(tsk_dir)
    tsk_s, tsk_run = timed(["tsk_recover", "-e", image, tsk_dir])

    ours = hashes(ours_dir)
    theirs = hashes(pr_dir)
    tsk = hashes(tsk_dir)
    total, mine, photorec, sleuth = (collections.Counter() for _ in range(4))
    for e in manifest["files"]:
        total[e["type"]] += 1
        mine[e["type"]] += e["sha256"] in ours
        photorec[e["type"]] += e["sha256"] in theirs
        sleuth[e["type"]] += e["sha256"] in tsk
    print("image: %.0f MB, %d files stored whole (%d made)" % (size_mb, sum(total.values()), manifest.get("made", 0)))
    print("cores: %d" % len(os.sched_getaffinity(0)))
    for name, _ in modes:
        plain, rate, bare, pauses = scan[name]
        print("scan only, %s (scan_driver, median of %d): %.1f MB/s; without the builder's %d s of pauses "
              "%.1f MB/s, %.0f%% of a plain read (%.1f MB/s)" % (name, a.rounds, rate, pauses, bare,
                                                                  100 * bare / plain if plain else 0, plain))
    for name, _ in modes:
        print("scan and recover all, %s (carve_scan): %.2f s, %.1f MB/s, %.2fx PhotoRec's rate" %
              (name, recover_s[name], size_mb / recover_s[name], pr_s / recover_s[name]))
    print("PhotoRec, scan and recover all: %.2f s, %.1f MB/s" % (pr_s, size_mb / pr_s))
    print("ratio (scan and recover): %.2fx; scan only: %.2fx" % (pr_s / ours_s, scan_rate / (size_mb / pr_s)))
    pauses = scan["threaded"][3]
    if 0 < pauses < ours_s:
        print("ratio (scan and recover) without the builder's %d s of pauses: %.2fx" %
              (pauses, pr_s / (ours_s - pauses)))
    print("Sleuth Kit (tsk_recover -e): %.2f s, %s" % (tsk_s, tsk_run.stdout.strip().splitlines()[-1:]))
    print("byte-identical files per type (ours / PhotoRec / Sleuth Kit / made):")
    for t in sorted(total):
        print("  %-8s %5d %5d %5d %5d" % (t, mine[t], photorec[t], sleuth[t], total[t]))
    print("  all      %5d %5d %5d %5d" % (sum(mine.values()), sum(photorec.values()), sum(sleuth.values()),
                                          sum(total.values())))
    print("  either PhotoRec or Sleuth Kit: %d" % sum(1 for e in manifest["files"]
                                                   if e["sha256"] in theirs or e["sha256"] in tsk))
    if not a.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
