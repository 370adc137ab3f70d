#!/usr/bin/env python3
"""A sparse FAT32 image full of files of real types, some of them deleted,
made with mkfs.fat and mtools, with a manifest in the fixture format.

usage: make_fat32_volume.py IMAGE SIZE FILES [--deleted-share F] [--small]
                            [--per-folder N] [--seed S]

SIZE is what truncate takes ("1G"). FILES files go into nested folders of
--per-folder files each and into small folders (one holding another) that
are then deleted whole with mdeltree; single files are deleted up to the
share --deleted-share (default 1/3). Deletions come last, so no deleted
cluster is reused.
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
    raw = b"".join(b"\x00" + rng.randbytes(3 * w) for _ in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def jpeg(rng, n):
    body = rng.randbytes(n)
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
        z.writestr("data.bin", rng.randbytes(n))
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

    # Folders of --per-folder files, and small folders (one holding another)
    # that are deleted whole: a deleted folder's chain is freed, so only its
    # first cluster can be read back, and these fit in it.
    n_old = max(1, a.files // (a.per_folder * 3))
    n_main = max(1, (a.files - 13 * n_old + a.per_folder - 1) // a.per_folder)
    plan = []   # (folder, number of files, deleted whole)
    for i in range(n_main):
        mains = [f for f, _, _ in plan]
        parent = rng.choice(mains) if mains and rng.random() < 0.4 and mains[-1].count("/") < 4 else ""
        plan.append(("%s/Folder %03d" % (parent, i), a.per_folder, False))
    mains = [f for f, _, _ in plan]
    for i in range(n_old):
        old = "%s/Old things %02d" % (rng.choice(mains), i)
        plan.append((old, 8, True))
        plan.append((old + "/Inner", 5, True))
    # The small folders are filled first, the rest spread over the others.
    left = a.files
    counts = [0] * len(plan)
    for k in sorted(range(len(plan)), key=lambda k: not plan[k][2]):
        counts[k] = min(plan[k][1], left)
        left -= counts[k]
    counts[0] += max(0, left)

    src = tempfile.mkdtemp(prefix="fatvol-")
    entries = []   # (path, data or None for a folder, mtime)
    try:
        run(["mmd", "-i", a.image] + ["::" + f for f, _, _ in plan])
        for f, _, _ in plan:
            entries.append((f, None, None))
        t = EPOCH
        i = 0
        for fi, ((folder, _, _), count) in enumerate(zip(plan, counts)):
            local_dir = os.path.join(src, str(fi))
            os.makedirs(local_dir)
            batch = []
            for _ in range(count):
                ext, make = KINDS[i % len(KINDS)]
                size = rng.randrange(1000, 2048) if a.small else rng.choice(
                    [rng.randrange(1, 600), rng.randrange(600, 20000), rng.randrange(20000, 400000)])
                name = name_for(rng, i, ext)
                i += 1
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

    # Deletions: the small folders whole, then single files up to the share.
    files = [e for e in entries if e[1] is not None]
    target = int(len(files) * a.deleted_share)
    gone_folders = [f for f, _, whole in plan if whole and not f.endswith("/Inner")]
    deleted = {f for f, _, whole in plan if whole}
    deleted.update(p for p, _, _ in files if any(p.startswith(f + "/") for f in gone_folders))
    singles = [p for p, _, _ in files if p not in deleted]
    rng.shuffle(singles)
    singles = singles[: max(0, target - len([p for p, _, _ in files if p in deleted]))]
    deleted.update(singles)
    for f in gone_folders:
        run(["mdeltree", "-i", a.image, "::" + f])
    for k in range(0, len(singles), 200):
        run(["mdel", "-i", a.image] + ["::" + p for p in singles[k:k + 200]])

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
        len(files), len([p for p, d, _ in files if p in deleted]), len(entries) - len(files),
        len([f for f, _, whole in plan if whole])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
