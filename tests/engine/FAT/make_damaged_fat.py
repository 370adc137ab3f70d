#!/usr/bin/env python3
"""Small FAT volumes with one kind of damage each, made with mkfs.fat and
mtools and then changed byte by byte where the damage lies. Beside the image
goes OUTDIR/<name>.want/: the bytes each file must come back as, under its
path, and OUTDIR/<name>.facts: what the test needs to know, one "key value"
line each.

usage: make_damaged_fat.py SCENARIO OUTDIR

scenarios:
  fat-loop     FAT32: a live file on clusters 7 -> 507 -> 9, and entries 1000
               and 1001 pointing at each other in both FAT copies; a second
               live file whose chain runs into that loop
  size-flip    FAT16: a deleted photo whose size entry has its top byte set
  size-flip-live  the same with the photo live
  emoji        FAT16: a file named with 127 emoji (254 UTF-16 units), so that
               surrogate pairs are split across long-name pieces
  long-names   FAT16: two files named with the same 255 characters (one of
               them deleted), and one whose UTF-8 name is longer than 255
               bytes
  type-text    FAT16: the fixture files, then one byte of the "FAT16   "
               type text changed
  many         FAT16: a folder whose entries fill more than one sector
"""
import os
import struct
import subprocess
import sys

EPOCH = 1600000000
MIB = 1 << 20


def run(argv):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", TZ="UTC", LC_ALL="C.UTF-8",
               SOURCE_DATE_EPOCH=str(EPOCH))
    subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL)


def payload(n, seed):
    x = (0x9E3779B9 * (seed + 1)) & 0xFFFFFFFF
    out = bytearray(n)
    for i in range(n):
        x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def mkfs(img, size, fat, extra=()):
    if os.path.exists(img):
        os.unlink(img)
    with open(img, "wb") as f:
        f.truncate(size)
    run(["mkfs.fat", "--invariant", "-F", str(fat), "-i", "0D0D0D0D", *extra, img])


class Volume:
    """Reads the layout of a FAT16/32 image and writes into it."""

    def __init__(self, img):
        self.img = img
        with open(img, "rb") as f:
            bs = f.read(512)
        self.bps = struct.unpack_from("<H", bs, 11)[0]
        self.spc = bs[13]
        self.reserved = struct.unpack_from("<H", bs, 14)[0]
        self.fats = bs[16]
        self.root_entries = struct.unpack_from("<H", bs, 17)[0]
        spf16 = struct.unpack_from("<H", bs, 22)[0]
        self.fat32 = spf16 == 0
        self.spf = spf16 or struct.unpack_from("<I", bs, 36)[0]
        self.root_cluster = struct.unpack_from("<I", bs, 44)[0] if self.fat32 else 0
        root_sectors = self.root_entries * 32 // self.bps
        self.root_start = self.reserved + self.fats * self.spf
        self.data_start = self.root_start + root_sectors
        self.cluster_bytes = self.spc * self.bps

    def cluster_offset(self, c):
        return (self.data_start + (c - 2) * self.spc) * self.bps

    def write(self, offset, data):
        with open(self.img, "r+b") as f:
            f.seek(offset)
            f.write(data)

    def read(self, offset, n):
        with open(self.img, "rb") as f:
            f.seek(offset)
            return f.read(n)

    def set_fat(self, cluster, value):
        width = 4 if self.fat32 else 2
        for copy in range(self.fats):
            at = (self.reserved + copy * self.spf) * self.bps + cluster * width
            self.write(at, struct.pack("<I" if self.fat32 else "<H", value))

    def root_offset(self):
        if self.fat32:
            return self.cluster_offset(self.root_cluster)
        return self.root_start * self.bps

    def free_root_slot(self, count):
        """Byte offset of `count` unused root entries in a row."""
        base = self.root_offset()
        size = self.cluster_bytes if self.fat32 else self.root_entries * 32
        data = self.read(base, size)
        run_start, run_len = None, 0
        for i in range(0, size, 32):
            if data[i] == 0:
                if run_len == 0:
                    run_start = i
                run_len += 1
                if run_len == count:
                    return base + run_start
            else:
                run_len = 0
        raise SystemExit("no room in the root directory")


def short_entry(name11, attr, cluster, size):
    e = bytearray(32)
    e[0:11] = name11
    e[11] = attr
    struct.pack_into("<H", e, 14, 0x5A3C)
    struct.pack_into("<H", e, 16, 0x5895)
    struct.pack_into("<H", e, 18, 0x5895)
    struct.pack_into("<H", e, 20, cluster >> 16)
    struct.pack_into("<H", e, 22, 0x5A3C)
    struct.pack_into("<H", e, 24, 0x5895)
    struct.pack_into("<H", e, 26, cluster & 0xFFFF)
    struct.pack_into("<I", e, 28, size)
    return bytes(e)


def checksum(name11):
    s = 0
    for b in name11:
        s = (((s & 1) << 7) + (s >> 1) + b) & 0xFF
    return s


def long_entries(name, name11):
    """The long-name entries of `name`, last piece first, as they lie on disk."""
    units = list(struct.unpack("<%dH" % (len(name.encode("utf-16le")) // 2),
                               name.encode("utf-16le")))
    pieces = [units[i:i + 13] for i in range(0, len(units), 13)]
    if len(pieces[-1]) < 13:
        pieces[-1] = pieces[-1] + [0] + [0xFFFF] * (12 - len(pieces[-1]))
    out = []
    sum_ = checksum(name11)
    for k in range(len(pieces), 0, -1):
        p = pieces[k - 1]
        e = bytearray(32)
        e[0] = k | (0x40 if k == len(pieces) else 0)
        e[11] = 0x0F
        e[13] = sum_
        for i, off in enumerate((1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30)):
            struct.pack_into("<H", e, off, p[i])
        out.append(bytes(e))
    return b"".join(out)


def want(outdir, name, path, data):
    target = os.path.join(outdir, name + ".want", path.lstrip("/"))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as f:
        f.write(data)


def fat_loop(outdir, name):
    img = os.path.join(outdir, name + ".img")
    mkfs(img, 40 * MIB, 32, ["-s", "1"])
    v = Volume(img)
    frag = payload(3 * v.cluster_bytes, 1)
    chain = [7, 507, 9]
    for i, c in enumerate(chain):
        v.write(v.cluster_offset(c), frag[i * v.cluster_bytes:(i + 1) * v.cluster_bytes])
        v.set_fat(c, chain[i + 1] if i + 1 < len(chain) else 0x0FFFFFFF)
    # What a contiguous guess would read instead of cluster 507.
    v.write(v.cluster_offset(8), payload(v.cluster_bytes, 9))
    # A loop in clusters no other file uses, and a file that runs into it.
    looped = payload(4 * v.cluster_bytes, 2)
    for i, c in enumerate([999, 1000, 1001]):
        v.write(v.cluster_offset(c), looped[i * v.cluster_bytes:(i + 1) * v.cluster_bytes])
    v.set_fat(999, 1000)
    v.set_fat(1000, 1001)
    v.set_fat(1001, 1000)
    at = v.free_root_slot(2)
    v.write(at, short_entry(b"FRAG    BIN", 0x20, 7, len(frag)))
    v.write(at + 32, short_entry(b"LOOPED  BIN", 0x20, 999, len(looped)))
    want(outdir, name, "/FRAG.BIN", frag)
    kept = 3 * v.cluster_bytes
    want(outdir, name, "/LOOPED.BIN", looped[:kept] + bytes(len(looped) - kept))
    return img, {"loopedKept": kept, "loopedSize": len(looped)}


def size_flip(outdir, name, work, deleted=True):
    img = os.path.join(outdir, name + ".img")
    mkfs(img, 32 * MIB, 16, ["-s", "4"])
    photo = b"\xFF\xD8\xFF\xE0" + payload(143 * 1024, 3)
    src = os.path.join(work, "photo.jpg")
    with open(src, "wb") as f:
        f.write(photo)
    run(["mcopy", "-i", img, src, "::/PHOTO.JPG"])
    if deleted:
        run(["mdel", "-i", img, "::/PHOTO.JPG"])
    v = Volume(img)
    base = v.root_offset()
    for i in range(0, v.root_entries * 32, 32):
        e = v.read(base + i, 32)
        if e[0] == (0xE5 if deleted else ord("P")) and e[1:11] == b"HOTO   JPG":
            claimed = struct.unpack_from("<I", e, 28)[0] | 0xB0000000
            v.write(base + i + 31, bytes([claimed >> 24]))
            break
    else:
        raise SystemExit("photo entry not found")
    want(outdir, name, "/_HOTO.JPG" if deleted else "/PHOTO.JPG", photo)
    return img, {"claimed": claimed, "size": len(photo)}


def emoji(outdir, name):
    img = os.path.join(outdir, name + ".img")
    mkfs(img, 32 * MIB, 16, ["-s", "4"])
    v = Volume(img)
    long_name = "\U0001F600" * 127
    name11 = b"EMOJI~1 TXT"
    data = payload(5000, 4)
    lfn = long_entries(long_name, name11)
    at = v.free_root_slot(len(lfn) // 32 + 1)
    v.write(at, lfn + short_entry(name11, 0x20, 2, len(data)))
    v.write(v.cluster_offset(2), data)
    clusters = (len(data) + v.cluster_bytes - 1) // v.cluster_bytes
    for c in range(2, 2 + clusters):
        v.set_fat(c, c + 1 if c + 1 < 2 + clusters else 0xFFFF)
    # The name is longer than a Linux file name can be: the bytes go under
    # another.
    want(outdir, name, "/emoji.bin", data)
    return img, {"name": long_name}



def long_names(outdir, name, work):
    img = os.path.join(outdir, name + ".img")
    mkfs(img, 32 * MIB, 16, ["-s", "4"])
    same = "a" * 251 + ".txt"
    wide = "\u00e9" * 200 + ".txt"
    files = {"first": payload(3000, 5), "second": payload(2000, 6), "wide": payload(1000, 7)}
    for k, data in files.items():
        with open(os.path.join(work, k), "wb") as f:
            f.write(data)
    run(["mmd", "-i", img, "::/Same"])
    run(["mcopy", "-i", img, os.path.join(work, "second"), "::/Same/" + same])
    # The same name once more, deleted, with its data in clusters no live
    # file uses (mtools would give a new file the deleted one's slots), and
    # the wide name (mtools cuts it): both written here.
    v = Volume(img)
    base = v.root_offset()
    for i in range(0, v.root_entries * 32, 32):
        e = v.read(base + i, 32)
        if e[0:11] == b"SAME       ":
            folder = v.cluster_offset(struct.unpack_from("<H", e, 26)[0])
            break
    else:
        raise SystemExit("folder entry not found")
    def place(entries):
        data = v.read(folder, v.cluster_bytes)
        for i in range(0, v.cluster_bytes - len(entries) + 1, 32):
            if all(data[j] == 0 for j in range(i, i + len(entries), 32)):
                v.write(folder + i, bytes(entries))
                return
        raise SystemExit("no room for %d entries in the folder" % (len(entries) // 32))

    name11 = b"AAAAAA~2TXT"
    entries = bytearray(long_entries(same, name11) + short_entry(name11, 0x20, 1000,
                                                                  len(files["first"])))
    for i in range(0, len(entries), 32):
        entries[i] = 0xE5
    place(entries)
    v.write(v.cluster_offset(1000), files["first"])
    name11 = b"EEEEEE~1TXT"
    place(long_entries(wide, name11) + short_entry(name11, 0x20, 1100, len(files["wide"])))
    v.write(v.cluster_offset(1100), files["wide"])
    v.set_fat(1100, 0xFFFF)
    want(outdir, name, "/first", files["first"])
    want(outdir, name, "/second", files["second"])
    want(outdir, name, "/wide", files["wide"])
    return img, {"same": same, "wide": wide}


def type_text(outdir, name, work):
    img = os.path.join(outdir, name + ".img")
    mkfs(img, 32 * MIB, 16, ["-s", "4", "-n", "VOL16"])
    data = payload(9000, 8)
    src = os.path.join(work, "report.pdf")
    with open(src, "wb") as f:
        f.write(data)
    run(["mmd", "-i", img, "::/Docs"])
    run(["mcopy", "-i", img, src, "::/Docs/report.pdf"])
    want(outdir, name, "/Docs/report.pdf", data)
    Volume(img).write(56, b"X")  # "FAT16   " becomes "FAX16   "
    return img, {}


def many(outdir, name, work):
    img = os.path.join(outdir, name + ".img")
    mkfs(img, 32 * MIB, 16, ["-s", "4"])
    run(["mmd", "-i", img, "::/Many"])
    for i in range(30):
        data = payload(700 + i, 20 + i)
        src = os.path.join(work, "f%d" % i)
        with open(src, "wb") as f:
            f.write(data)
        path = "/Many/file number %02d.txt" % i
        run(["mcopy", "-i", img, src, "::" + path])
        want(outdir, name, path, data)
    v = Volume(img)
    base = v.root_offset()
    for i in range(0, v.root_entries * 32, 32):
        e = v.read(base + i, 32)
        if e[0:11] == b"MANY       ":
            cluster = struct.unpack_from("<H", e, 26)[0]
            break
    else:
        raise SystemExit("folder entry not found")
    return img, {"folderSector": v.data_start + (cluster - 2) * v.spc}


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)
    scenario, outdir = argv
    os.makedirs(outdir, exist_ok=True)
    work = os.path.join(outdir, scenario + ".work")
    os.makedirs(work, exist_ok=True)
    name = scenario
    makers = {
        "fat-loop": lambda: fat_loop(outdir, name),
        "size-flip": lambda: size_flip(outdir, name, work),
        "size-flip-live": lambda: size_flip(outdir, name, work, deleted=False),
        "emoji": lambda: emoji(outdir, name),
        "long-names": lambda: long_names(outdir, name, work),
        "type-text": lambda: type_text(outdir, name, work),
        "many": lambda: many(outdir, name, work),
    }
    if scenario not in makers:
        raise SystemExit("unknown scenario " + scenario)
    img, facts = makers[scenario]()
    facts["image"] = os.path.basename(img)
    with open(os.path.join(outdir, name + ".facts"), "w", encoding="utf-8") as f:
        for key, value in facts.items():
            f.write("%s %s\n" % (key, value))


if __name__ == "__main__":
    main(sys.argv[1:])
