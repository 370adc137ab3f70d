#!/usr/bin/env python3
"""Compares files written below a folder at their volume paths with an
image manifest: every file of the manifest (named streams as "path:stream",
hard links included) must be there with the manifest's SHA-256, except the
entries given by --skip-deleted when deleted files are not part of the run.
Exit 0 when all match, 1 with the differences listed.

usage: check_files.py MANIFEST.json FOLDER [--live-only]"""
import hashlib
import json
import os
import sys


def main(argv):
    manifest, folder = argv[0], argv[1]
    live_only = "--live-only" in argv
    m = json.load(open(manifest, encoding="utf-8"))
    errors, checked = [], 0
    for vol in m["volumes"]:
        for e in vol["files"]:
            if e["type"] != "file" or (live_only and e["state"] != "live") or "unverifiable" in e:
                continue
            path = os.path.join(folder, e["path"].lstrip("/"))
            if not os.path.exists(path):
                errors.append("missing " + e["path"])
                continue
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            checked += 1
            if digest != e["sha256"]:
                errors.append("%s: content differs (%d bytes, want %d)" % (e["path"], os.path.getsize(path), e["size"]))
    for e in errors:
        print("FAIL " + e)
    print("%s: %d files compared, %d differences" % (manifest, checked, len(errors)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
