#!/usr/bin/env python3
"""Compares a folder of recovered files with a fixture manifest.

usage: check_recovered.py MANIFEST FOLDER

Every file and folder of the manifest must be in FOLDER at its path (a
deleted one whose name was kept only as 8.3 under "#" and the rest of its
name; a name longer than a Linux file name may be cut as recovery cuts it:
its stem to whole characters, its extension kept, 255 bytes in all); files
with their size, SHA-256 and modification time. Entries the manifest marks
"unverifiable" are only looked for. Prints one line per problem and a
closing "checked N" line; exits 1 when there was a problem."""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fixtures", "lib"))
from fixturelib import sha256_file  # noqa: E402


def fit(part):
    """One path part as recovery writes it: at most 255 bytes, the stem cut on
    a character boundary and an extension (a last dot with at most 15 bytes
    after it) kept."""
    raw = part.encode()
    if len(raw) <= 255:
        return part
    dot = part.rfind(".")
    ext = part[dot:] if dot > 0 and len(part[dot:].encode()) <= 16 else ""
    stem = part[: len(part) - len(ext)] if ext else part
    room = 255 - len(ext.encode())
    # an incomplete last character is dropped
    return stem.encode()[:room].decode("utf-8", "ignore") + ext


def on_disk(path):
    """The manifest path as recovery writes it: no part longer than 255 bytes."""
    return "/".join(fit(part) for part in path.strip("/").split("/"))


def main(argv):
    manifest, folder = argv[1], argv[2]
    with open(manifest, encoding="utf-8") as f:
        m = json.load(f)
    problems = 0
    checked = 0
    for vol in m["volumes"]:
        for e in vol["files"]:
            checked += 1
            p = os.path.join(folder, on_disk(e["path"]))
            if e["state"] == "deleted" and not os.path.exists(p):
                # a deleted 8.3 name keeps all but its first byte, shown as "#"
                head, tail = os.path.split(p)
                p = os.path.join(head, "#" + tail[1:])
            if e["type"] == "dir":
                if not os.path.isdir(p):
                    print("missing folder %s" % e["path"])
                    problems += 1
                continue
            if not os.path.isfile(p):
                print("missing file %s (%s)" % (e["path"], e["state"]))
                problems += 1
                continue
            if "unverifiable" in e:
                continue
            st = os.stat(p)
            if st.st_size != e["size"]:
                print("size %s: %d, expected %d" % (e["path"], st.st_size, e["size"]))
                problems += 1
            elif sha256_file(p) != e["sha256"]:
                print("bytes differ %s" % e["path"])
                problems += 1
            mtime = e.get("times", {}).get("mtime")
            if mtime is not None and int(st.st_mtime) != mtime:
                print("mtime %s: %d, expected %d" % (e["path"], int(st.st_mtime), mtime))
                problems += 1
    print("checked %d" % checked)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
