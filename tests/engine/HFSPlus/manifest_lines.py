#!/usr/bin/env python3
"""Prints an HFS+ fixture manifest as tab-separated lines for the C++ tests:
path, type, state, id, parent id, size, sha256, mtime, compression.

usage: manifest_lines.py MANIFEST"""
import json
import sys

m = json.load(open(sys.argv[1], encoding="utf-8"))
for e in m["volumes"][0]["files"]:
    print("\t".join(str(x) for x in (e["path"], e["type"], e["state"], e["id"], e["parent_id"],
                                      e.get("size", 0), e.get("sha256", "-"), e["times"]["mtime"],
                                      e.get("compression", "none"))))
