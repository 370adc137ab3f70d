#!/usr/bin/env python3
"""A sparse FAT32 image full of files of real types, some of them deleted,
made with mkfs.fat and mtools, with a manifest in the fixture format.

usage: make_fat32_volume.py IMAGE SIZE FILES [--deleted-share F] [--small]
                            [--per-folder N] [--seed S]

SIZE is what truncate takes ("1G"). About FILES files go into nested
folders of at most --per-folder files each; then a share of them
(--deleted-share, default 1/3) is deleted: single files, and whole folders
with mdeltree. Deletions come last, so no deleted cluster is reused.
--small makes every file 1-2 KiB (for timing a walk over many files).
The manifest is IMAGE's name with ".json" for ".img"."""
import argparse
import hashlib
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

EPOCH = 1600000000


def run(argv):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", TZ="UTC", LC_ALL="C.UTF-8")
    subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL)


def png(rng, n):
    w = h = max(1, int((n / 3) ** 0.5))
    raw = b"".join(b"\x00" + bytes(rng.getrandbits(8) for _ in range(3 * w)) for _ in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def jpeg(rng, n):
    body = bytes(rng.getrandbits(8) for _ in range(n))
    return b"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + body + b"\xFF\xD9"


def pdf(rng, n):
    words = " ".join("w%d" % rng.randrange(100000) for _ in range(n // 7 + 1))
    return b"%PDF-1.4\n1 0 obj <<>> stream\n" + words.encode()[:n] + b"\nendstream endobj\n%%EOF\n"


def zipped(rng, n, docx=False):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        if docx:
            z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types/>')
            z.writestr("word/document.xml", "<w:document>%s</w:document>" % ("x" * (n // 4)))
        z.writestr("data.bin", bytes(rng.getrandbits(8) for _ in range(n)))
    return buf.getvalue()


def text(rng, n):
    line = "line %d of a plain text file\n"
    out = "".join(line % i for i in range(n // 24 + 1))
    return out.encode()[:n]


KINDS = [("jpg", jpeg), ("png", png), ("pdf", pdf), ("zip", zipped),
         ("docx", lambda r, n: zipped(r, n, True)), ("txt", text), ("csv", text), ("html", text)]
# Names in the forms FAT keeps differently: long names with spaces, names
# outside ASCII, upper-case 8.3 names, lower-case 8.3 names (flags only).
STEMS = ["Holiday photo %d", "r\u00e9sum\u00e9 %d", "DATA%d", "note%d", "Quarterly report %d final",
         "scan_%d", "\u00dcbersicht %d", "x%d"]


def name_for(rng, i, ext):
    stem = rng.choice(STEMS) % i
    if stem.isupper():
        ext = ext.upper()[:3]
    elif stem.startswith("note") or stem.startswith("x"):
        ext = ext[:3]
    return "%s.%s" % (stem, ext)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("image")
    ap.add_argument("size")
    ap.add_argument("files", type=int)
    ap.add_argument("--deleted-share", type=float, default=1 / 3)
    ap.add_argument("--small", action="store_true")
    ap.add_argument("--per-folder", type=int, default=40)
    ap.add_argument("--seed", type=int, default=7)
    a = ap.parse_args()
    rng = random.Random(a.seed)

    if os.path.exists(a.image):
        os.unlink(a.image)
    run(["truncate", "-s", a.size, a.image])
    run(["mkfs.fat", "-F", "32", "-n", "BIGVOL", "-i", "0BADF00D", a.image])

    src = tempfile.mkdtemp(prefix="fatvol-")
    entries = []   # (path, data or None for a folder, mtime)
    try:
        folders = []
        n_folders = max(1, (a.files + a.per_folder - 1) // a.per_folder)
        for i in range(n_folders):
            parent = rng.choice(folders) if folders and rng.random() < 0.4 and folders[-1].count("/") < 4 else ""
            folders.append("%s/Folder %03d" % (parent, i))
        run(["mmd", "-i", a.image] + ["::" + f for f in folders])
        for f in folders:
            entries.append((f, None, None))
        t = EPOCH
        for fi, folder in enumerate(folders):
            local_dir = os.path.join(src, str(fi))
            os.makedirs(local_dir)
            batch = []
            for k in range(a.per_folder):
                i = fi * a.per_folder + k
                if i >= a.files:
                    break
                ext, make = KINDS[i % len(KINDS)]
                size = rng.randrange(1000, 2048) if a.small else rng.choice(
                    [rng.randrange(1, 600), rng.randrange(600, 20000), rng.randrange(20000, 400000)])
                name = name_for(rng, i, ext)
                local = os.path.join(local_dir, name)
                data = make(rng, size)
                with open(local, "wb") as fh:
                    fh.write(data)
                t += 2 * rng.randrange(1, 5000)
                os.utime(local, (t, t))
                batch.append(local)
                entries.append((folder + "/" + name, data, t))
            if batch:
                run(["mcopy", "-m", "-i", a.image] + batch + ["::" + folder + "/"])
            shutil.rmtree(local_dir)
    finally:
        shutil.rmtree(src, ignore_errors=True)

    # Deletions: whole folders (leaves of the tree) and single files.
    files = [e for e in entries if e[1] is not None]
    target = int(len(files) * a.deleted_share)
    deleted = set()
    leaf = [f for f, d, _ in entries if d is None and not any(g.startswith(f + "/") for g, dd, _ in entries if dd is None)]
    rng.shuffle(leaf)
    gone_folders = []
    for f in leaf[: max(1, len(leaf) // 6)]:
        inside = [p for p, d, _ in files if p.startswith(f + "/")]
        if len(deleted) + len(inside) > target:
            break
        gone_folders.append(f)
        deleted.update(inside)
        deleted.add(f)
    singles = [p for p, d, _ in files if p not in deleted]
    rng.shuffle(singles)
    singles = singles[: max(0, target - len([p for p in deleted if p not in gone_folders]))]
    deleted.update(singles)
    for f in gone_folders:
        run(["mdeltree", "-i", a.image, "::" + f])
    for i in range(0, len(singles), 200):
        run(["mdel", "-i", a.image] + ["::" + p for p in singles[i:i + 200]])

    vol = {"offset": 0, "size": os.path.getsize(a.image), "filesystem": "FAT32", "label": "BIGVOL", "files": []}
    for path, data, mtime in entries:
        state = "deleted" if path in deleted else "live"
        if data is None:
            vol["files"].append({"path": path, "type": "dir", "state": state})
        else:
            vol["files"].append({"path": path, "type": "file", "state": state, "size": len(data),
                                 "sha256": hashlib.sha256(data).hexdigest(),
                                 "times": {"mtime": mtime}})
    manifest = {"image": os.path.basename(a.image), "kind": "fat", "volumes": [vol],
                "notes": ["made by make_fat32_volume.py; TZ=UTC; deletions last, nothing reused"]}
    base = a.image[:-4] if a.image.endswith(".img") else a.image
    with open(base + ".json", "w", encoding="utf-8") as fh:
        json.dump(manifest, fh, indent=1, ensure_ascii=False)
    print("%d files, %d deleted, %d folders (%d deleted)" % (
        len(files), len([p for p, d, _ in files if p in deleted]), len(entries) - len(files), len(gone_folders)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
