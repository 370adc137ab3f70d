#!/usr/bin/env python3
"""Checks a folder of recovered files against a manifest whose names may
hold any character, and against what Sleuth Kit lists in the image.

usage: check_names.py IMAGE MANIFEST FOLDER

Manifest: every file (named streams and recycle-bin index files aside) at
its path with its size and SHA-256. Sleuth Kit: every regular file fls -r
lists (outside the "$" entries of the root), read with icat, at its path as
recovery writes a name (control characters, DEL and "/" as "_"; "", "."
and ".." as "_"; cut to 255 bytes as check_recovered.py cuts) with the
same bytes (a name fls cuts short is matched to the manifest's whole one). fls -r is read without -p, by depth,
so a "/" inside a name stays part of that name. Count in equals count out:
every file in FOLDER is one of those, and each of those is there once.
Prints one line per problem and a closing line; exits 1 on a problem."""
import hashlib
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "FAT"))
from check_recovered import fit  # noqa: E402


def clean(name):
    out = "".join("_" if ord(c) < 0x20 or c in "\x7f/" else c for c in name)
    return "_" if out in ("", ".", "..") else fit(out)


def digest(data):
    return hashlib.sha256(data).hexdigest()


def file_digest(path):
    with open(path, "rb") as f:
        return digest(f.read())


LINE = re.compile(r"^(\+*) ?(\S)/(\S) (\* )?([0-9-]+)(\(realloc\))?:\t(.*)$")


def fls_files(image, ntfs, hfs):
    """(recovered path, inode) of every regular file fls lists."""
    out = subprocess.run(["fls", "-r", image], check=True, stdout=subprocess.PIPE).stdout
    parents = []
    files = []
    for raw in out.split(b"\n"):
        m = LINE.match(raw.decode("utf-8", "surrogateescape"))
        if not m:
            continue
        depth = len(m.group(1))
        name = m.group(7)
        # Sleuth Kit shows the "/" an HFS+ name holds as ":".
        if hfs:
            name = name.replace(":", "/")
        del parents[depth:]
        kind = m.group(3)
        if depth == 0 and (name.startswith("$") or name.endswith("(Volume Label Entry)")):
            parents.append(None)
            continue
        if None in parents:
            parents.append(None)
            continue
        # NTFS named streams are listed as "name:stream".
        if ntfs and kind == "r" and ":" in name:
            parents.append(None)
            continue
        path = "/" + "/".join(parents + [clean(name)])
        parents.append(clean(name))
        if kind == "r" and m.group(6) is None:
            files.append((path, m.group(5)))
    return files


def main(image, manifest, folder):
    with open(manifest, encoding="utf-8") as f:
        m = json.load(f)
    fs = m["volumes"][0]["filesystem"]
    problems = []
    expected = set()
    # A deep scan gives each volume it finds a folder of its own (named by
    # its label) below the tree's root: the volume's files are read there.
    tops = {e["path"].strip("/").split("/")[0] for vol in m["volumes"] for e in vol["files"]}
    entries = os.listdir(folder)
    if (len(entries) == 1 and entries[0] not in tops
            and os.path.isdir(os.path.join(folder, entries[0]))
            and not os.path.islink(os.path.join(folder, entries[0]))):
        folder = os.path.join(folder, entries[0])
    for vol in m["volumes"]:
        for e in vol["files"]:
            if e["type"] != "file" or e.get("stream") or e.get("recycle_index"):
                continue
            path = "/" + "/".join(fit(part) for part in e["path"].strip("/").split("/"))
            expected.add(path)
            p = folder + path
            if not os.path.isfile(p):
                problems.append("missing %r (%s)" % (e["path"], e["state"]))
            elif os.path.getsize(p) != e["size"] or file_digest(p) != e["sha256"]:
                problems.append("bytes differ %r" % e["path"])
    listed = fls_files(image, fs == "NTFS", fs in ("HFS+", "HFSX"))
    for path, inode in listed:
        # fls prints a control character as "^", and cuts a long FAT name.
        if not os.path.isfile(folder + path) and "^" in path:
            path = path.replace("^", "_")
        if not os.path.isfile(folder + path) and len(os.path.basename(path)) > 200:
            longer = [p for p in expected if p.startswith(path)]
            path = longer[0] if len(longer) == 1 else path
        expected.add(path)
        p = folder + path
        if not os.path.isfile(p):
            problems.append("Sleuth Kit lists %r; not recovered" % path)
            continue
        theirs = subprocess.run(["icat", image, inode], stdout=subprocess.PIPE).stdout
        if file_digest(p) != digest(theirs):
            problems.append("bytes differ from Sleuth Kit's %r" % path)
    found = 0
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            if os.path.islink(os.path.join(root, name)):
                problems.append("a link was made: %r" % os.path.join(root, name))
        for name in files:
            found += 1
            rel = "/" + os.path.relpath(os.path.join(root, name), folder)
            if rel not in expected:
                problems.append("recovered %r, which neither the manifest nor Sleuth Kit has" % rel)
    if found != len(expected):
        problems.append("%d files recovered, %d expected" % (found, len(expected)))
    for p in problems:
        print(p)
    print("%s: %d files expected (%d listed by Sleuth Kit), %d recovered, %d problems"
          % (os.path.basename(image), len(expected), len(listed), found, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
