#!/usr/bin/env python3
"""Checks a folder of recovered files against what Sleuth Kit recovers from
the same FAT image.

usage: compare_tsk.py IMAGE FOLDER [SCRATCH]

tsk_recover -e writes every live and deleted file it can reach into
SCRATCH (a private temporary folder when not given); each must be in FOLDER
at the same path with the same bytes, and with the modification time that
fls -l gives it. Prints one line per problem and "compared N"; exits 1 when
there was a problem."""
import calendar
import shutil
import os
import subprocess
import sys
import tempfile
import time


# Files Sleuth Kit makes up for a file system's own structures.
TSK_VIRTUAL = {"$ALLOC_BITMAP", "$UPCASE_TABLE", "$MBR", "$FAT1", "$FAT2"}


def fls_mtimes(image):
    out = subprocess.run(["fls", "-r", "-p", "-l", "-z", "UTC", image], check=True,
                         stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
    times = {}
    for line in out.splitlines():
        f = line.split("\t")
        if len(f) < 7 or not f[0].startswith("r/r"):
            continue
        stamp = f[2][:19]
        if stamp.startswith("0000"):
            continue
        mtime = calendar.timegm(time.strptime(stamp, "%Y-%m-%d %H:%M:%S"))
        # a path listed twice (a live and a deleted file) keeps no single time
        times[f[1]] = None if f[1] in times else mtime
    return times


def ours_for(folder, rel):
    """Our copy of a file Sleuth Kit names rel. A deleted 8.3 name lost its
    first byte: Sleuth Kit shows it as "_", we as "#"."""
    path = folder
    for part in rel.split(os.sep):
        exact = os.path.join(path, part)
        if not os.path.exists(exact) and part.startswith("_"):
            exact = os.path.join(path, "#" + part[1:])
        path = exact
    return path


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def main(argv):
    image, folder = argv[1], argv[2]
    own = len(argv) <= 3
    scratch = tempfile.mkdtemp(prefix="tsk-") if own else argv[3]
    try:
        return compare(image, folder, scratch)
    finally:
        if own:
            shutil.rmtree(scratch, ignore_errors=True)


def compare(image, folder, scratch):
    subprocess.run(["tsk_recover", "-e", image, scratch], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    mtimes = fls_mtimes(image)
    problems = 0
    compared = 0
    for root, dirs, files in os.walk(scratch):
        dirs[:] = [d for d in dirs if not d.startswith("$")]
        for name in files:
            if root == scratch and name in TSK_VIRTUAL:
                continue
            theirs = os.path.join(root, name)
            rel = os.path.relpath(theirs, scratch)
            ours = ours_for(folder, rel)
            compared += 1
            if not os.path.isfile(ours):
                print("missing %s" % rel)
                problems += 1
                continue
            if not same_bytes(theirs, ours):
                print("bytes differ %s" % rel)
                problems += 1
            mtime = mtimes.get(rel)
            if mtime is not None and int(os.stat(ours).st_mtime) != mtime:
                print("mtime %s: %d, Sleuth Kit %d" % (rel, int(os.stat(ours).st_mtime), mtime))
                problems += 1
    print("compared %d" % compared)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
