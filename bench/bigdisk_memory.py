#!/usr/bin/env python3
"""Peak memory of a deep scan with every searcher against the disk's size.

For each size asked for, makes tests/fixtures/bigdisk/make.py's sparse disk
(GPT: FAT32 and exFAT of 512 MiB, NTFS to half the disk, payload files on
each, a third deleted; raw JPEG, PNG and ZIP files spread over the second
half), runs `scan_driver --deep --rounds 1 --recover OUT` on it under
/usr/bin/time -v on four cores, and prints the peak resident set, the wall
time, the scan's own time and the manifest files given back byte for byte:
named (at their path in a file system's tree), carved (among the signature
search's files), and the raw files (anywhere). The files are the same at
every size, so what the peak gains from one size to the next is what the
scan keeps per byte of disk. The driver's resident set is sampled every
second and printed at each tenth of the run, to show when it grows.

The image is deleted after its run unless --keep is given. Needs root, loop
devices and FUSE (the generator's). Run it from a Release build.

usage: bigdisk_memory.py --build BUILD_DIR [--sizes 64G,256G,1T,2T] [--work DIR] [--keep] [--image IMAGE]"""
import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import wholedisk_bench as wb  # noqa: E402

SOURCE = os.path.dirname(HERE)


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            m = re.search(r"VmRSS:\s+(\d+) kB", f.read())
            return int(m.group(1)) if m else 0
    except OSError:
        return 0


def run_sampled(argv, env):
    """Wall seconds, peak resident set (KiB, from /usr/bin/time -v), the output,
    and [(seconds, RSS KiB)] of the command sampled every second."""
    start = time.monotonic()
    p = subprocess.Popen(["taskset", "-c", "0-3", "/usr/bin/time", "-v"] + argv, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env, text=True, errors="replace")
    samples = []
    out = {}

    def sample():
        while p.poll() is None:
            # taskset execs /usr/bin/time, whose child is the driver
            kids = children(p.pid)
            if kids:
                samples.append((time.monotonic() - start, rss_kib(kids[0])))
            time.sleep(1)

    def read(name, stream):
        out[name] = stream.read()

    threads = [threading.Thread(target=sample), threading.Thread(target=read, args=("out", p.stdout)),
               threading.Thread(target=read, args=("err", p.stderr))]
    for t in threads:
        t.start()
    p.wait()
    for t in threads:
        t.join()
    seconds = time.monotonic() - start
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", out["err"])
    return seconds, int(peak.group(1)) if peak else 0, out["out"], out["err"], samples, p.returncode


def found(manifest, ours_dir):
    """Per kind: files, named, carved; and the raw files given back."""
    ours = wb.walk(ours_dir)
    carved = {h for p, h in ours.items() if p.split(os.sep)[0].startswith(("RAW_", "Lable_RAW_"))}
    named = {}
    for p, h in ours.items():
        if not p.split(os.sep)[0].startswith(("RAW_", "Lable_RAW_")):
            named.setdefault("/" + "/".join(p.split(os.sep)[2:]), set()).add(h)
    every = set(ours.values())
    rows = collections.Counter()
    for v in manifest["volumes"]:
        for e in v["files"]:
            if e["type"] != "file" or e["size"] == 0:
                continue
            rows["files"] += 1
            rows["deleted"] += e["state"] == "deleted"
            rows["named"] += e["sha256"] in named.get(e["path"], set())
            rows["carved"] += e["sha256"] in carved
            rows["either"] += e["sha256"] in named.get(e["path"], set()) or e["sha256"] in carved
    rows["raw"] = len(manifest["raw_files"])
    rows["raw found"] = sum(e["sha256"] in every for e in manifest["raw_files"])
    return rows


def one(build, image, ours_dir):
    manifest = json.load(open(os.path.splitext(image)[0] + ".json"))
    shutil.rmtree(ours_dir, ignore_errors=True)
    os.makedirs(ours_dir)
    seconds, peak, out, err, samples, rc = run_sampled(
        [os.path.join(build, "bin", "scan_driver"), "--deep", "--rounds", "1", "--recover", ours_dir, image],
        dict(os.environ, TZ="UTC"))
    if rc != 0:
        print(out, err[-3000:])
        raise SystemExit("scan_driver failed (%d)" % rc)
    print(out[out.find("round 1"):].strip(), flush=True)
    scan = re.search(r"scan ([0-9.]+) s", out)
    plain = re.search(r"plain read ([0-9.]+) s", out)
    rows = found(manifest, ours_dir)
    size = os.path.getsize(image)
    print("resident set over the run (s: MiB): " + ", ".join(
        "%.0f: %.0f" % (t, k / 1024) for t, k in samples[::max(1, len(samples) // 10)]))
    r = {"size": size, "peak": peak, "wall": seconds, "scan": float(scan.group(1)) if scan else 0.0,
         "plain": float(plain.group(1)) if plain else 0.0, "rows": rows}
    print(table_row(r), flush=True)
    return r


HEADER = ("| disk | peak resident set | wall | plain read | scan | volume files (deleted) | named | carved | either | "
          "raw files found |\n|---|---|---|---|---|---|---|---|---|---|")


def table_row(r):
    w = r["rows"]
    return "| %.0f GiB | %.0f MiB | %.0f s | %.0f s | %.0f s | %d (%d) | %d | %d | %d | %d of %d |" % (
        r["size"] / (1 << 30), r["peak"] / 1024, r["wall"], r["plain"], r["scan"], w["files"], w["deleted"],
        w["named"], w["carved"], w["either"], w["raw found"], w["raw"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="a build folder with bin/scan_driver")
    ap.add_argument("--sizes", default="64G,256G", help="disk sizes, comma-separated (G, T: powers of 1024)")
    ap.add_argument("--work", help="the folder for the images (a private one is made below it)")
    ap.add_argument("--keep", action="store_true", help="keep the images and the recovered files")
    ap.add_argument("--image", help="scan this bigdisk.img (with its manifest) instead of making images")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    work = tempfile.mkdtemp(prefix="bigdisk_memory-", dir=a.work)
    results = []
    try:
        if a.image:
            results.append(one(build, a.image, os.path.join(work, "ours")))
        for size in ([] if a.image else a.sizes.split(",")):
            folder = os.path.join(work, size)
            print("making the %s disk..." % size, flush=True)
            t = time.monotonic()
            subprocess.run(["taskset", "-c", "0-3", sys.executable,
                            os.path.join(SOURCE, "tests", "fixtures", "bigdisk", "make.py"), folder, "--size", size],
                           check=True)
            print("made in %.0f s" % (time.monotonic() - t), flush=True)
            results.append(one(build, os.path.join(folder, "bigdisk.img"), os.path.join(folder, "ours")))
            if not a.keep:
                shutil.rmtree(folder)
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    print("\n" + HEADER)
    for r in results:
        print(table_row(r))
    return 0


if __name__ == "__main__":
    sys.exit(main())
