#!/usr/bin/env python3
"""Lays the carve samples at known sectors of a disk image and writes a
manifest of what the signature search must find there.

usage: mkimage.py --samples DIR --layout LAYOUT --out DIR [--seed N]

Layouts:
  clean     each file at a sector boundary, zero slack, zero sectors between
  dirty     random bytes everywhere around and between the files
  straddle  every file crosses a 4 MiB block boundary, with its end or its
            header beside the boundary
  crowd     40 sector starts that look like EXIF JPEGs come first; each one's
            APP1 length points into the files after them, so more than 32
            candidates are open while those files stream
  4k        as clean, on a device of 4096-byte sectors

Writes OUT/LAYOUT.img and OUT/LAYOUT.json: sector_size and, per file,
start_sector, size, type, source, name_regex, label."""
import argparse
import json
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

BLOCK = 4 << 20


def load(samples_dir):
    table = json.load(open(os.path.join(samples_dir, "samples.json")))["samples"]
    for s in table:
        if "generate" in s:
            # Too big to keep: made by its script each time.
            with tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, s["file"])
                script, *args = s["generate"]
                subprocess.run([sys.executable, os.path.join(samples_dir, script), *args, path], check=True)
                s["data"] = open(path, "rb").read()
        else:
            s["data"] = open(os.path.join(samples_dir, s["file"]), "rb").read()
    return table


def expected(sample, start, ss, layout):
    # A sample whose format cannot tell its own length exactly says what
    # the search finds instead: its size, or what the format adds to it
    # (carved to whole sectors, or a structure that claims a few bytes
    # more than the writer wrote).
    size = sample.get("size", len(sample["data"])) + sample.get("carved_extra", 0)
    if sample.get("carved_round") == "sectors":
        size = (size + ss - 1) // ss * ss
    end = start + (size - 1) // ss
    name = sample["name"]
    if layout != "4k" and "crowded_name" in sample:
        name = sample["crowded_name"]
    # {at:N}: the sector that holds byte N of the file, where a walk decides
    # the end before the last byte; {any}: whatever follows the file decides.
    name = re.sub(r"\{at:(\d+)\}", lambda m: str(start + int(m.group(1)) // ss), name)
    pattern = re.escape(name.replace("{any}", "\0").format(start=start, end=end)).replace("\x00", "[0-9]+")
    return {
        "file": sample["file"],
        "start_sector": start,
        "size": size,
        "type": sample["type"],
        "name_regex": "^" + pattern + r"[0-9]{3,}\." + re.escape(sample["type"]) + "$",
        "label": sample["label"],
        "verify": sample.get("verify"),
        "generated": "generate" in sample,
    }


def place_sequential(samples, ss, rnd, first, gaps):
    out, pos = [], first
    for s in samples:
        pos = (pos + ss - 1) // ss * ss
        out.append((pos, s))
        pos += len(s["data"]) + s.get("carved_extra", 0)
        pos = (pos + ss - 1) // ss * ss + ss * rnd.randrange(gaps[0], gaps[1] + 1)
    return out, pos


def decoy(length):
    return b"\xff\xd8\xff\xe1" + struct.pack(">H", length) + b"Exif\0\0"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--samples", required=True)
    ap.add_argument("--layout", required=True, choices=["clean", "dirty", "straddle", "crowd", "4k"])
    ap.add_argument("--out", required=True)
    ap.add_argument("--seed", type=int, default=24)
    a = ap.parse_args()
    rnd = random.Random(a.seed)
    samples = load(a.samples)
    ss = 4096 if a.layout == "4k" else 512
    first = 1 << 20
    decoys = []

    if a.layout == "straddle":
        placed = []
        shift = 0  # files over a block push the boundaries after them on
        for i, s in enumerate(samples):
            size = len(s["data"])
            boundary = (i + 1) * BLOCK + shift
            if size > BLOCK:
                extra = (size // BLOCK + 1) * BLOCK
                shift += extra
                boundary += extra
            if i % 2 == 0 or size > BLOCK // 2:
                start = (boundary + 100 - size) // ss * ss  # the end crosses the boundary
                if start + size <= boundary:
                    start -= ss
            else:
                start = boundary - ss  # the header sits in the block's last sector
            placed.append((start, s))
        end = (len(samples) + 1) * BLOCK + shift
    elif a.layout == "crowd":
        count = 40
        placed, end = place_sequential(samples, ss, rnd, first + (count + 1) * ss, (1, 2))
        decoys = [first // ss + i for i in range(count)]
    else:
        placed, end = place_sequential(samples, ss, rnd, first, (1, 3) if a.layout != "dirty" else (0, 3))
    size = (end + BLOCK // 2 + BLOCK - 1) // BLOCK * BLOCK + 12345 * ss // 512

    if a.layout == "dirty":
        img = bytearray(rnd.randbytes(size))
        # Random bytes must not begin a file by chance at a sector boundary.
        for off in range(0, size, ss):
            img[off] = 0x5A
    else:
        img = bytearray(size)
    files = []
    for start, s in placed:
        if s.get("zero_slack"):
            # A file sized by the zero fill after it: the rest of its last
            # sector and the sector after are zero, as a file system leaves
            # the slack of a freshly written cluster.
            stop = start + len(s["data"])
            stop = (stop + ss - 1) // ss * ss + ss
            img[start:stop] = bytes(stop - start)
        img[start:start + len(s["data"])] = s["data"]
        files.append(expected(s, start // ss, ss, a.layout))

    for k, sector in enumerate(decoys):
        off = sector * ss
        # Lands far into the files that follow, on a byte that cannot go on as
        # a marker, so the decoy ends as no picture.
        length = 65000 - 37 * k
        while img[off + 4 + length] == 0xFF:
            length += 1
        head = decoy(length)
        img[off:off + len(head)] = head

    os.makedirs(a.out, exist_ok=True)
    path = os.path.join(a.out, a.layout + ".img")
    with open(path, "wb") as f:
        f.write(img)
    manifest = {"image": path, "layout": a.layout, "sector_size": ss, "files": files,
                "decoy_sectors": decoys, "samples": os.path.abspath(a.samples)}
    with open(os.path.join(a.out, a.layout + ".json"), "w") as f:
        json.dump(manifest, f, indent=1)


if __name__ == "__main__":
    main()
