#!/usr/bin/env python3
"""Compares the files a deep scan recovered from one partition with one
volume of a fixture manifest.

usage: check_deep_recovered.py MANIFEST VOLUME FOLDER [--root-lost] [--skip PREFIX ...]

VOLUME is the volume's index in the manifest. Without --root-lost every
entry must be at its path, as check_recovered.py checks. With --root-lost
the volume's root directory is gone, so its top folders come back under
placeholder names and the files of the root among the lost files: each
file is then looked for by its path below its top folder (or by its name,
for a file of the root) under any folder of FOLDER, with its size and
SHA-256; entries marked lost_with_root are not looked for. Entries whose
path starts with a --skip PREFIX are not looked for either (what a scan
cannot give back in that case, said by the caller). Prints one line per
problem and a closing "checked N" line; exits 1 on a problem."""
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "fixtures", "lib"))
from fixturelib import sha256_file  # noqa: E402

sys.path.insert(0, HERE)
from check_recovered import fit  # noqa: E402


def candidates(folder, rel):
    """Files of FOLDER whose path ends with /rel (a deleted 8.3 name may start with #)."""
    head, name = os.path.split(rel)
    # as recovery writes a name: no longer than 255 bytes, the extension kept
    name = fit(name)
    names = {name, "#" + name[1:]}
    for root, _, files in os.walk(folder):
        for f in files:
            if f in names and os.path.join(root, f).endswith(os.path.join("/" + head, f).replace("//", "/")):
                yield os.path.join(root, f)


def main(argv):
    manifest, index, folder = argv[1], int(argv[2]), argv[3]
    root_lost = "--root-lost" in argv[4:]
    skip = [argv[i + 1] for i in range(4, len(argv) - 1) if argv[i] == "--skip"]
    with open(manifest, encoding="utf-8") as f:
        m = json.load(f)
    vol = dict(m["volumes"][index])
    vol["files"] = [e for e in vol["files"] if not any(e["path"].startswith(p) for p in skip)]
    if not root_lost:
        one = dict(m)
        one["volumes"] = [vol]
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as t:
            json.dump(one, t)
        try:
            return subprocess.call([sys.executable, os.path.join(HERE, "check_recovered.py"), t.name, folder])
        finally:
            os.unlink(t.name)
    problems = checked = 0
    for e in vol["files"]:
        if e["type"] != "file" or e.get("lost_with_root"):
            continue
        checked += 1
        parts = e["path"].strip("/").split("/")
        rel = "/".join(parts[1:]) if len(parts) > 1 else parts[0]
        found = [p for p in candidates(folder, rel)
                 if os.path.getsize(p) == e["size"] and sha256_file(p) == e["sha256"]]
        if not found:
            print("missing or different %s (%s)" % (e["path"], e["state"]))
            problems += 1
    print("checked %d" % checked)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
