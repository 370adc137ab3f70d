#!/usr/bin/env python3
"""Checks the folder a scan recovered an NTFS volume into: against the
image's manifest and against what Sleuth Kit recovers from the same image
(for a deep scan of a lost volume, the intact source image).

usage: check_quick_scan.py IMAGE MANIFEST FOLDER [DISK.json]

DISK.json (a lost-volume disk's description) may list under "bytes_changed"
files whose clusters were written over on the disk: they must be there, but
their bytes are not compared.

Manifest: every file (named streams aside) and folder must be there at its
path, recycled ones under the original name their index file keeps; files
with the manifest's size, SHA-256 and modification time (those only the
$LogFile still describes included). Sleuth Kit: every file tsk_recover -e
writes (outside "$" folders) must be there at the same path with the same
bytes and the modification time fls gives. Every file we recovered must be
one of those two. Prints one line per problem and a closing line; exits 1
when there was a problem."""
import calendar
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def shown_path(path, renames):
    """The path the tree shows: recycled folders and files renamed."""
    parts = path.strip("/").split("/")
    out = []
    for i in range(len(parts)):
        full = "/" + "/".join(parts[:i + 1])
        out.append(renames.get(full, parts[i]))
    return "/" + "/".join(out)


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
        times[f[1]] = calendar.timegm(time.strptime(stamp, "%Y-%m-%d %H:%M:%S"))
    return times


def main(image, manifest, folder, disk=None):
    m = json.load(open(manifest, encoding="utf-8"))
    changed = set(json.load(open(disk)).get("bytes_changed", [])) if disk else set()
    problems = []
    expected = set()
    renames = {}
    for vol in m["volumes"]:
        for e in vol["files"]:
            if "recycled_name" in e:
                renames[e["path"]] = e["recycled_name"]
    checked = 0
    for vol in m["volumes"]:
        for e in vol["files"]:
            if e.get("stream") or e.get("recycle_index"):
                continue
            rel = shown_path(e["path"], renames)
            p = folder + rel
            if e["type"] == "dir":
                continue
            expected.add(rel)
            checked += 1
            if not os.path.isfile(p):
                problems.append("missing %s (%s)" % (rel, e["state"]))
                continue
            st = os.stat(p)
            if rel in changed:
                continue
            if st.st_size != e["size"] or digest(p) != e["sha256"]:
                problems.append("bytes differ %s: %d bytes, want %d" % (rel, st.st_size, e["size"]))
            mtime = e.get("times", {}).get("mtime")
            if mtime is not None and int(st.st_mtime) != mtime:
                problems.append("mtime %s: %d, want %d" % (rel, int(st.st_mtime), mtime))

    scratch = tempfile.mkdtemp(prefix="tsk-")
    try:
        subprocess.run(["tsk_recover", "-e", image, scratch], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        mtimes = fls_mtimes(image)
        for root, dirs, files in os.walk(scratch):
            dirs[:] = [d for d in dirs if not d.startswith("$")]
            for name in files:
                theirs = os.path.join(root, name)
                rel = "/" + os.path.relpath(theirs, scratch)
                if os.path.dirname(rel) == "/" and name.startswith("$"):
                    continue
                expected.add(rel)
                checked += 1
                ours = folder + rel
                if not os.path.isfile(ours):
                    problems.append("Sleuth Kit recovers %s; we do not" % rel)
                    continue
                if rel in changed:
                    continue
                if digest(ours) != digest(theirs):
                    problems.append("bytes differ from Sleuth Kit's %s" % rel)
                mtime = mtimes.get(rel.lstrip("/"))
                if mtime is not None and int(os.stat(ours).st_mtime) != mtime:
                    problems.append("mtime %s: %d, Sleuth Kit %d" % (rel, int(os.stat(ours).st_mtime), mtime))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    for root, dirs, files in os.walk(folder):
        for name in files:
            rel = "/" + os.path.relpath(os.path.join(root, name), folder)
            if rel not in expected:
                problems.append("recovered %s, which neither the manifest nor Sleuth Kit has" % rel)
    for p in problems:
        print(p)
    print("%s: checked %d, %d problems" % (os.path.basename(image), checked, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
