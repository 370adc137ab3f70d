#!/usr/bin/env python3
"""Compares a folder of files recovered from an HFS+ image with the image's
manifest and with what Sleuth Kit reads from the image.

usage: check_hfs_recovered.py MANIFEST FOLDER IMAGE [SECTOR_OFFSET]

Manifest: every folder and file (live and journal-only deleted ones) must be
at its path with its size, SHA-256 and modification time (a file marked
"optional" may be missing, but when it is there its bytes must be right); the private
folder of hard-link targets is not shown. Sleuth Kit (when installed): every
regular file fls lists must be at the same path with the same modification
time and the bytes icat gives (for a hard link, which Sleuth Kit lists with
no data, the bytes of the file it links to). Nothing else may be in FOLDER.
Prints one line per problem and "checked N"; exits 1 on a problem."""
import hashlib
import json
import os
import shutil
import subprocess
import sys


def sha(path):
    with open(path, "rb") as fh:
        return hashlib.sha256(fh.read()).hexdigest()


def main(argv):
    manifest, folder, image = argv[1], argv[2], argv[3]
    offset = argv[4] if len(argv) > 4 else "0"
    m = json.load(open(manifest, encoding="utf-8"))
    problems = []
    expected = set()
    links = {}
    for e in m["volumes"][0]["files"]:
        if "HFS+ Private Data" in e["path"]:
            continue
        p = os.path.join(folder, e["path"].lstrip("/"))
        expected.add(os.path.normpath(p))
        if "hard_link_to" in e:
            links[e["path"]] = e["hard_link_to"]
        if e["type"] == "dir":
            if not os.path.isdir(p):
                problems.append("missing folder %s" % e["path"])
            continue
        if not os.path.isfile(p):
            if not e.get("optional"):
                problems.append("missing file %s (%s)" % (e["path"], e["state"]))
            continue
        if os.path.getsize(p) != e["size"] or sha(p) != e["sha256"]:
            problems.append("bytes differ %s (%d bytes, expected %d)" % (e["path"], os.path.getsize(p), e["size"]))
        if int(os.stat(p).st_mtime) != e["times"]["mtime"]:
            problems.append("mtime %s: %d, expected %d" % (e["path"], int(os.stat(p).st_mtime), e["times"]["mtime"]))
    for root, dirs, files in os.walk(folder):
        for n in dirs + files:
            p = os.path.normpath(os.path.join(root, n))
            if p not in expected:
                problems.append("not in the manifest: %s" % os.path.relpath(p, folder))
    checked = len(expected)
    if shutil.which("fls") and shutil.which("icat"):
        out = subprocess.run(["fls", "-o", offset, "-r", "-p", "-m", "/", image], check=True,
                             stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
        for line in out.splitlines():
            f = line.split("|")
            if len(f) < 11 or not f[3].startswith("r/r"):
                continue
            path = f[1]
            if path.startswith("/$") or "HFS+ Private Data" in path:
                continue
            inode = f[2].split("-")[0]
            mtime = int(f[8])
            ours = os.path.join(folder, path.lstrip("/"))
            checked += 1
            if not os.path.isfile(ours):
                problems.append("Sleuth Kit lists %s, we do not" % path)
                continue
            target = str(links.get(path, inode))
            data = subprocess.run(["icat", "-o", offset, image, target], check=True,
                                  stdout=subprocess.PIPE).stdout
            if hashlib.sha256(data).hexdigest() != sha(ours):
                problems.append("bytes differ from icat: %s" % path)
            if int(os.stat(ours).st_mtime) != mtime:
                problems.append("mtime differs from fls: %s" % path)
    for p in problems:
        print(p)
    print("checked %d" % checked)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
