#!/usr/bin/env python3
"""An exFAT image full of files, some of them deleted, with a manifest in
the fixture format. mkfs.exfat lays out the empty volume; this script then
writes folders, files and their entry sets straight into the image (no
mount, no root), as a driver that allocates contiguously would: every file
and folder in one run of clusters with the no-FAT-chain flag, the root
folder grown along its FAT chain.

usage: make_exfat_volume.py IMAGE SIZE FILES [--per-folder N] [--deleted-share F]
                            [--cluster BYTES] [--small] [--seed S] [--label L] [--sub-first]

SIZE is what truncate takes ("1G"). FILES files go into folders of
--per-folder files each (every tenth folder also holds a sub-folder with a
few of them); small folders ("Gone N", one holding another) are deleted
whole; single files are deleted up to --deleted-share (default 1/3).
Deletions come last, so no deleted cluster is reused: a deleted entry set
keeps its first cluster and its clusters are only freed in the bitmap.
--small makes every file 1-2 KiB (for timing a walk over many files).
--sub-first puts a folder's sub-folder entry before its files (where the
sub-folder's length is met first by a reader of the folder's clusters).
The manifest is IMAGE's name with ".json" for ".img"."""
import argparse
import os
import random
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fixtures", "lib"))
import fixturelib as fx  # noqa: E402

EPOCH = fx.EPOCH
ATTR_DIR, ATTR_ARCHIVE = 0x10, 0x20


def set_checksum(data):
    s = 0
    for i, b in enumerate(data):
        if i in (2, 3):
            continue
        s = ((s >> 1) | ((s & 1) << 15)) + b & 0xFFFF
    return s


class Volume:
    def __init__(self, path):
        self.f = open(path, "r+b")
        bs = self.f.read(512)
        assert bs[3:11] == b"EXFAT   "
        (self.length, self.fat_off, self.fat_len, self.heap, self.count,
         self.root) = struct.unpack_from("<QIIIII", bs, 72)
        self.bps = 1 << bs[108]
        self.spc = 1 << bs[109]
        self.csize = self.bps * self.spc
        self.f.seek(self.fat_off * self.bps)
        self.fat = bytearray(self.f.read(self.fat_len * self.bps))
        root = self.read_cluster(self.root)
        self.bitmap_first = self.upcase_first = None
        for i in range(0, len(root), 32):
            if root[i] == 0x81:
                self.bitmap_first, self.bitmap_len = struct.unpack_from("<IQ", root, i + 20)
            elif root[i] == 0x82:
                self.upcase_first, upcase_len = struct.unpack_from("<IQ", root, i + 20)
        self.f.seek(self.offset(self.bitmap_first))
        self.bitmap = bytearray(self.f.read(self.bitmap_len))
        self.f.seek(self.offset(self.upcase_first))
        self.upcase = self.expand_upcase(self.f.read(upcase_len))
        self.next_free = 2
        self.root_chain = [self.root]
        # entries already in the root: label, bitmap, up-case table
        self.root_used = next((i for i in range(0, len(root), 32) if root[i] == 0), len(root)) // 32

    @staticmethod
    def expand_upcase(data):
        table = list(range(65536))
        units = struct.unpack("<%dH" % (len(data) // 2), data)
        i = c = 0
        while i < len(units) and c < 65536:
            if units[i] == 0xFFFF and i + 1 < len(units):
                c += units[i + 1]
                i += 2
            else:
                table[c] = units[i]
                c += 1
                i += 1
        return table

    def offset(self, cluster):
        return (self.heap + (cluster - 2) * self.spc) * self.bps

    def read_cluster(self, cluster):
        self.f.seek(self.offset(cluster))
        return self.f.read(self.csize)

    def used(self, c):
        return self.bitmap[(c - 2) // 8] >> ((c - 2) % 8) & 1

    def mark(self, c, on):
        if on:
            self.bitmap[(c - 2) // 8] |= 1 << ((c - 2) % 8)
        else:
            self.bitmap[(c - 2) // 8] &= ~(1 << ((c - 2) % 8)) & 0xFF

    def allocate(self, n):
        """n contiguous free clusters (first fit from the last allocation)."""
        c = self.next_free
        while True:
            if c + n > self.count + 2:
                raise SystemExit("volume full")
            bad = next((c + k for k in range(n) if self.used(c + k)), None)
            if bad is None:
                break
            c = bad + 1
        for k in range(n):
            self.mark(c + k, True)
        self.next_free = c + n
        return c

    def name_hash(self, name):
        h = 0
        data = name.encode("utf-16le")
        for u in struct.unpack("<%dH" % (len(data) // 2), data):
            u = self.upcase[u]
            for b in (u & 0xFF, u >> 8):
                h = ((h >> 1) | ((h & 1) << 15)) + b & 0xFFFF
        return h

    def entry_set(self, name, attr, first, length, mtime, nofat=True):
        units = name.encode("utf-16le")
        n = len(units) // 2
        names = (n + 14) // 15
        ts = dos_stamp(mtime)
        primary = struct.pack("<BBHHHIII BBBBB 7x".replace(" ", ""), 0x85, 1 + names, 0, attr, 0, ts, ts, ts,
                              0, 0, 0x80, 0x80, 0x80)
        flags = 0x01 | (0x02 if nofat and first else 0)
        stream = struct.pack("<BBBBHHQIIQ", 0xC0, flags, 0, n, self.name_hash(name), 0, length, 0, first, length)
        parts = [primary, stream]
        for k in range(names):
            chunk = units[30 * k:30 * k + 30]
            parts.append(struct.pack("<BB", 0xC1, 0) + chunk + bytes(30 - len(chunk)))
        data = bytearray(b"".join(parts))
        struct.pack_into("<H", data, 2, set_checksum(data))
        return data

    def write_data(self, first, data):
        self.f.seek(self.offset(first))
        self.f.write(data)

    def grow_root(self, entries):
        per = self.csize // 32
        while self.root_used + entries > per * len(self.root_chain):
            c = self.allocate(1)
            struct.pack_into("<I", self.fat, self.root_chain[-1] * 4, c)
            struct.pack_into("<I", self.fat, c * 4, 0xFFFFFFFF)
            self.write_data(c, bytes(self.csize))
            self.root_chain.append(c)

    def add_to_root(self, data):
        self.grow_root(len(data) // 32)
        pos = self.root_used * 32
        self.root_used += len(data) // 32
        for k in range(0, len(data), 32):
            cl = self.root_chain[(pos + k) // self.csize]
            self.f.seek(self.offset(cl) + (pos + k) % self.csize)
            self.f.write(data[k:k + 32])
        return pos

    def finish(self):
        self.f.seek(self.fat_off * self.bps)
        self.f.write(self.fat)
        self.f.seek(self.offset(self.bitmap_first))
        self.f.write(self.bitmap)
        self.f.close()


def dos_stamp(t):
    import time
    g = time.gmtime(t)
    date = ((g.tm_year - 1980) << 9) | (g.tm_mon << 5) | g.tm_mday
    tim = (g.tm_hour << 11) | (g.tm_min << 5) | (g.tm_sec // 2)
    return (date << 16) | tim


def payload(rng, n, i):
    kind = i % 4
    if kind == 0:
        head = b"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00"
    elif kind == 1:
        head = b"%PDF-1.4\n"
    elif kind == 2:
        head = b"PK\x03\x04"
    else:
        head = b"text file %d\n" % i
    return (head + rng.randbytes(max(0, n - len(head))))[:n]


class Folder:
    """A folder's entry sets, written into its own clusters once complete."""

    def __init__(self, name):
        self.name = name
        self.sets = []   # (bytearray, deleted)

    def clusters_needed(self, vol):
        entries = sum(len(s) // 32 for s, _ in self.sets)
        return max(1, (entries * 32 + vol.csize - 1) // vol.csize)


def write_tree(vol, mv, entries, folder_extra=None):
    """Live files at any paths, their folders made as the paths need them
    (contiguous, no FAT chain), the root's sets added last. entries:
    (path, bytes, mtime, extra manifest fields); folder_extra: path to extra
    fields of a folder's manifest entry."""
    folder_extra = folder_extra or {}
    tree = {}
    for path, data, mtime, extra in entries:
        parts = path.strip("/").split("/")
        node = tree
        for part in parts[:-1]:
            node = node.setdefault(part, {})
        node[parts[-1]] = (data, mtime, extra)

    def sets_of(node, prefix):
        sets = []
        for name, value in node.items():
            path = prefix + "/" + name
            if isinstance(value, dict):
                inner = sets_of(value, path)
                n = max(1, (sum(len(s) for s in inner) + vol.csize - 1) // vol.csize)
                first = vol.allocate(n)
                vol.write_data(first, b"".join(bytes(s) for s in inner).ljust(n * vol.csize, b"\0"))
                fx.Manifest.folder(mv, path, **folder_extra.get(path, {}))
                sets.append(vol.entry_set(name, ATTR_DIR, first, n * vol.csize, EPOCH))
            else:
                data, mtime, extra = value
                first = 0
                if data:
                    first = vol.allocate((len(data) + vol.csize - 1) // vol.csize)
                    vol.write_data(first, data)
                sets.append(vol.entry_set(name, ATTR_ARCHIVE, first, len(data), mtime))
                fx.Manifest.file(mv, path, data, mtime, **extra)
        return sets

    for s in sets_of(tree, ""):
        vol.add_to_root(s)


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("image")
    ap.add_argument("size")
    ap.add_argument("files", type=int)
    ap.add_argument("--per-folder", type=int, default=100)
    ap.add_argument("--deleted-share", type=float, default=1 / 3)
    ap.add_argument("--cluster", type=int, default=4096)
    ap.add_argument("--small", action="store_true")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--label", default="GENVOL")
    ap.add_argument("--sub-first", action="store_true")
    a = ap.parse_args(argv)
    rng = random.Random(a.seed)
    if os.path.exists(a.image):
        os.unlink(a.image)
    subprocess.run(["truncate", "-s", a.size, a.image], check=True)
    mkfs = ["mkfs.exfat", "-L", a.label, "-c", str(a.cluster)]
    if a.cluster < 4096:
        mkfs += ["-b", "4K"]
    subprocess.run(mkfs + [a.image], check=True, stdout=subprocess.DEVNULL)
    vol = Volume(a.image)
    m = fx.Manifest(a.image, "exfat")
    mv = m.volume(0, os.path.getsize(a.image), "exFAT", a.label, cluster_size=vol.csize)

    # Plan: (folder path, [file indexes]); sub-folders and deleted-whole folders.
    plan = []
    i = 0
    folder_no = 0
    while i < a.files:
        n = min(a.per_folder, a.files - i)
        plan.append(("/Folder %03d" % folder_no, list(range(i, i + n))))
        i += n
        folder_no += 1
    to_delete = set(rng.sample(range(a.files), int(a.files * a.deleted_share)))
    t = EPOCH

    def write_file(path, idx, deleted):
        size = rng.randrange(1024, 2049) if a.small else rng.choice([0, 100, 3000, 20000, 70000])
        data = payload(rng, size, idx)
        first = 0
        if data:
            first = vol.allocate((len(data) + vol.csize - 1) // vol.csize)
            vol.write_data(first, data)
        mtime = t + 2 * idx
        entry = vol.entry_set(os.path.basename(path), ATTR_ARCHIVE, first, len(data), mtime)
        fx.Manifest.file(mv, path, data, mtime, state="deleted" if deleted else "live", reusable=False)
        return entry, first, len(data)

    def write_folder(path, folder, deleted_whole=False):
        """Allocates and writes a folder's clusters; its set for the parent."""
        n = folder.clusters_needed(vol)
        first = vol.allocate(n)
        buf = bytearray(n * vol.csize)
        pos = 0
        for s, _ in folder.sets:
            buf[pos:pos + len(s)] = s
            pos += len(s)
        vol.write_data(first, buf)
        fx.Manifest.folder(mv, path, "deleted" if deleted_whole else "live")
        return vol.entry_set(os.path.basename(path), ATTR_DIR, first, n * vol.csize, t), first, n

    frees = []  # (first, clusters) freed at the end
    root_sets = []
    for fno, (path, idxs) in enumerate(plan):
        folder = Folder(path)
        sub = Folder(path + "/Sub") if fno % 10 == 9 else None
        for k, idx in enumerate(idxs):
            target = sub if sub is not None and k % 10 == 0 else folder
            fpath = (target.name) + "/file %06d.%s" % (idx, ("jpg", "pdf", "zip", "txt")[idx % 4])
            e, first, length = write_file(fpath, idx, idx in to_delete)
            if idx in to_delete:
                e[0] &= 0x7F
                e[32] &= 0x7F
                for j in range(64, len(e), 32):
                    e[j] &= 0x7F
                if first:
                    frees.append((first, (length + vol.csize - 1) // vol.csize))
            target.sets.append((e, idx in to_delete))
        if sub is not None:
            e, _, _ = write_folder(sub.name, sub)
            folder.sets.insert(0 if a.sub_first else len(folder.sets), (e, False))
        e, _, _ = write_folder(path, folder)
        root_sets.append(e)
    # folders deleted whole: "Gone N" holding two files and "Inner" with one
    for g in range(max(1, a.files // 1000)):
        base = a.files + 10 * g
        gone = Folder("/Gone %d" % g)
        inner = Folder(gone.name + "/Inner")
        for k, target in ((0, gone), (1, gone), (2, inner)):
            e, first, length = write_file(target.name + "/lost %d.jpg" % (base + k), base + k, True)
            target.sets.append((e, True))
            if first:
                frees.append((first, (length + vol.csize - 1) // vol.csize))
        e, first, n = write_folder(inner.name, inner, True)
        gone.sets.append((e, True))
        frees.append((first, n))
        e, first, n = write_folder(gone.name, gone, True)
        frees.append((first, n))
        root_sets.append(e)
    for e in root_sets:
        vol.add_to_root(e)
    # deletions last: freed clusters, then the sets inside and of "Gone N"
    for first, n in frees:
        for c in range(first, first + n):
            vol.mark(c, False)
    vol.finish()
    mark_deleted_whole(a.image)
    m.note("Made by make_exfat_volume.py: every file and folder contiguous with the no-FAT-chain "
           "flag; the root folder FAT-chained; deleted sets keep their first cluster.")
    m.write(a.image)


def mark_deleted_whole(image):
    """Clears the in-use bit of every set inside and of the "Gone N" folders."""
    vol = Volume(image)
    chain = []
    c = vol.root
    while 2 <= c < 0xFFFFFFF7 and c not in chain:
        chain.append(c)
        c = struct.unpack_from("<I", vol.fat, c * 4)[0]
    root = bytearray(b"".join(vol.read_cluster(c) for c in chain))

    def walk_and_delete(first, length):
        vol.f.seek(vol.offset(first))
        buf = bytearray(vol.f.read(length))
        i = 0
        while i < len(buf) and buf[i]:
            if buf[i] in (0x85, 0x05):
                n = buf[i + 1]
                if buf[i + 4] & ATTR_DIR:
                    fc, ln = struct.unpack_from("<IQ", buf, i + 32 + 20)
                    walk_and_delete(fc, ln)
                for j in range(n + 1):
                    buf[i + 32 * j] &= 0x7F
                i += 32 * (n + 1)
            else:
                i += 32
        vol.f.seek(vol.offset(first))
        vol.f.write(buf)

    i = 0
    while i < len(root) and root[i]:
        if root[i] == 0x85:
            n = root[i + 1]
            name = root[i + 66:i + 96].decode("utf-16le").split("\x00")[0]
            if name.startswith("Gone "):
                fc, ln = struct.unpack_from("<IQ", root, i + 32 + 20)
                walk_and_delete(fc, ln)
                for j in range(n + 1):
                    root[i + 32 * j] &= 0x7F
            i += 32 * (n + 1)
            continue
        i += 32
    for k, c in enumerate(chain):
        vol.write_data(c, root[k * vol.csize:(k + 1) * vol.csize])
    vol.finish()


if __name__ == "__main__":
    main(sys.argv[1:])
