#!/usr/bin/env python3
"""Compares what carve_scan listed and recovered with an image's manifest:
every expected file is found at its sector with its type, size, name,
label and bytes, and no other carved file overlaps an expected one.

usage: check.py MANIFEST LISTING"""
import json
import os
import re
import subprocess
import sys
import tempfile


def main(manifest_path, listing_path):
    m = json.load(open(manifest_path))
    ss = m["sector_size"]
    listed = []
    for line in open(listing_path, encoding="utf-8", errors="surrogateescape"):
        tree, path, start, size, copy = line.rstrip("\n").split("\t")
        listed.append({"tree": int(tree), "path": path, "start": int(start), "size": int(size), "copy": copy})
    problems = []
    by_start = {}
    for f in listed:
        by_start.setdefault(f["start"], []).append(f)
    matched = set()
    for e in m["files"]:
        found = by_start.get(e["start_sector"], [])
        if len(found) != 1:
            problems.append("%s at %d: %d carved files there" % (e["file"], e["start_sector"], len(found)))
            continue
        f = found[0]
        matched.add(id(f))
        folder, _, name = f["path"].rpartition("/")
        want_tree = 36 if e["label"] else 34
        if f["tree"] != want_tree:
            problems.append("%s: in tree %d, not %d" % (e["file"], f["tree"], want_tree))
        if e["label"]:
            if folder != e["label"]:
                problems.append("%s: labelled %r, not %r" % (e["file"], folder, e["label"]))
        elif folder.lower() != e["type"].lower():
            problems.append("%s: in folder %r, not %r" % (e["file"], folder, e["type"].lower()))
        if not re.match(e["name_regex"], name):
            problems.append("%s: named %r, not /%s/" % (e["file"], name, e["name_regex"]))
        if f["size"] != e["size"]:
            problems.append("%s: size %d, not %d" % (e["file"], f["size"], e["size"]))
        if e.get("generated"):
            with tempfile.TemporaryDirectory() as tmp:
                sample = [s for s in json.load(open(m["samples"] + "/samples.json"))["samples"]
                          if s["file"] == e["file"]][0]
                script, *args = sample["generate"]
                subprocess.run([sys.executable, m["samples"] + "/" + script, *args, tmp + "/f"], check=True)
                source = open(tmp + "/f", "rb").read()
        else:
            source = open(m["samples"] + "/" + e["file"], "rb").read() if "samples" in m and not e.get("source") \
                else open(e["source"], "rb").read()
        got = open(f["copy"], "rb").read()
        # Bytes a rule counts past the source's end are zero fill.
        padded = source + bytes(max(0, e["size"] - len(source)))
        if got != padded[:len(got)] or len(got) != e["size"]:
            problems.append("%s: recovered bytes differ from the source" % e["file"])
        elif e.get("verify"):
            # The carved copy opens with a reader that is not ours.
            run = subprocess.run(e["verify"] + [f["copy"]], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
            if run.returncode != 0:
                problems.append("%s: %s refuses the carved copy: %s" % (
                    e["file"], e["verify"][0], run.stderr.decode(errors="replace").strip()[:200]))
    extents = [(e["start_sector"], e["start_sector"] + (e["size"] + ss - 1) // ss, e["file"]) for e in m["files"]]
    for f in listed:
        if id(f) in matched:
            continue
        a, b = f["start"], f["start"] + (f["size"] + ss - 1) // ss
        for lo, hi, name in extents:
            if a < hi and lo < b:
                problems.append("%s (sectors %d-%d) overlaps %s" % (f["path"], a, b - 1, name))
    for p in problems:
        print("FAIL", p)
    print("%s: %d expected, %d carved, %d problems" % (m.get("layout", manifest_path), len(m["files"]), len(listed),
                                                      len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
