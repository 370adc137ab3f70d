#!/usr/bin/env python3
"""Seeds for the NTFS fuzz targets, cut from the fixture images: whole file
records (with the records after them, which attribute lists may name),
mapping pairs of $DATA attributes, index blocks and a $LogFile record page;
and small whole volumes for the quick search, and on a disk for the deep
search (made with mkntfs and ntfs-3g, so root and FUSE are needed for
those).

usage: make_fuzz_seeds.py FIXTURE_DIR FUZZ_CORPUS_DIR
(FIXTURE_DIR holds ntfs.img, ntfs_4k.img and ntfs_log.img)"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "fixtures", "ntfs"))
import ntfsimg  # noqa: E402


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def first_with_attribute_list(v):
    for n in range(16, 4096):
        if v.img[v.record_offset(n):v.record_offset(n) + 4] == b"FILE":
            rec = v.read_record(n)
            if any(t == 0x20 for t, _, _ in ntfsimg.attributes(rec)):
                return n
    return None


def main(fixtures, corpus):
    for image, names in (("ntfs", ["$MFT", "$Volume", ".", "target.bin", "comp.txt", "mixed.bin", "short.txt"]),
                         ("ntfs_4k", ["many.bin", "what?.txt"]), ("ntfs_log", ["$LogFile", "$IAB12CD.txt"])):
        img = bytearray(open(os.path.join(fixtures, image + ".img"), "rb").read())
        v = ntfsimg.Volume(img)
        for name in names:
            try:
                n = v.find(name)
            except KeyError:
                # a name kept only in an extension record: take the base
                # record that lists it through its attribute list instead
                n = first_with_attribute_list(v) if name == "target.bin" else None
            if n is None:
                continue
            off = v.record_offset(n)
            tag = "%s_%d" % (image, n)
            # the record and a few after it, as they lie on disk
            write(os.path.join(corpus, "fuzz_ntfs_record"), tag, bytes(img[off:off + 8 * v.record_size]))
            try:
                pairs, _, _ = v.data_runs_of(n)
                write(os.path.join(corpus, "fuzz_ntfs_runlist"), tag, pairs)
            except (KeyError, AssertionError):
                pass
        found = 0
        for off in range(0, len(img), 4096):
            if img[off:off + 4] in (b"INDX", b"RCRD") and found < 3:
                write(os.path.join(corpus, "fuzz_ntfs_index"), "%s_%x" % (image, off), bytes(img[off:off + 4096]))
                found += 1




def sparse_seed(img):
    """A volume as fuzz_ntfs_quick_search reads it: its size, then the
    sectors that are not zero, runs of one byte value as fills."""
    import struct
    out = bytearray(struct.pack("<I", len(img)))
    sector = 512
    i = 0
    while i < len(img):
        s = img[i:i + sector]
        if not any(s):
            i += sector
            continue
        if s.count(s[0]) == len(s):
            j = i
            while j < len(img) and img[j:j + sector] == s and j - i < 0xFE00:
                j += sector
            out += struct.pack("<IHB", i, j - i, s[0])
            i = j
            continue
        j = i
        while j < len(img) and any(img[j:j + sector]) and img[j:j + sector].count(img[j]) != sector and \
                j - i < 0xFE00:
            j += sector
        out += struct.pack("<IHB", i, j - i, 0) + img[i:j]
        i = j
    return bytes(out)


def small_volumes(corpus):
    """Small volumes made with mkntfs and ntfs-3g (root and FUSE), one with
    512-byte and one with 4 KiB clusters: live, deleted, compressed and
    hard-linked files, a named stream, and a $LogFile holding a deleted
    file's record image and undo data."""
    import subprocess
    import tempfile
    sys.path.insert(0, os.path.join(HERE, "..", "..", "fixtures", "lib"))
    import fixturelib as fx
    for name, size, cluster in (("small_512", 2 << 20, 512), ("small_4k", 4 << 20, 4096)):
        work = tempfile.mkdtemp(prefix="ntfs-seed-")
        img = os.path.join(work, "v.img")
        with open(img, "wb") as f:
            f.truncate(size)
        fx.run(["mkntfs", "-F", "-q", "-f", "-c", str(cluster), "-s", "512", "-L", "SEED", img])
        mnt = os.path.join(work, "m")
        os.mkdir(mnt)
        fx.run(["ntfs-3g", "-o", "compression,streams_interface=windows", img, mnt])
        try:
            os.makedirs(mnt + "/d/e")
            fx.write_tree(mnt, [("/d/a.txt", fx.text(3000, "a"), fx.EPOCH), ("/d/e/b.bin", fx.pseudo_random(9000, 1),
                                                                            fx.EPOCH), ("/tiny.txt", b"tiny", fx.EPOCH),
                                ("/gone.bin", fx.pseudo_random(6000, 2), fx.EPOCH)])
            os.link(mnt + "/d/a.txt", mnt + "/d/e/a link.txt")
            with open(mnt + "/tiny.txt:zone", "wb") as f:
                f.write(b"[ZoneTransfer]")
        finally:
            subprocess.run(["sync"])
            subprocess.run(["fusermount", "-u", mnt])
        v = ntfsimg.Volume(bytearray(open(img, "rb").read()))
        n = v.find("gone.bin")
        image = bytes(v.read_record(n))
        pairs, ao, mp = ntfsimg.zap_data(v, n)
        rec = v.read_record(n)
        import struct
        struct.pack_into("<H", rec, 0x16, 0)  # not in use
        v.write_record(n, rec)
        ntfsimg.write_log(v, {4: ntfsimg.record_page([ntfsimg.log_record(v, 0x10, n, 2, 0, image, b"", 0, 0),
                                                      ntfsimg.log_record(v, 0x20, n, 0, 0x0B, b"", pairs.ljust(16, b"\0"),
                                                                         ao, mp)], 1, 0x20)})
        write(os.path.join(corpus, "fuzz_ntfs_quick_search"), name, sparse_seed(bytes(v.img)))
        # the same volume 64 KiB into a disk without partition table, for
        # the deep search: 512-byte sectors, blocks of 16 and of 2,048
        disk = bytes(64 * 1024) + bytes(v.img)
        for blocks in (16, 0):
            write(os.path.join(corpus, "fuzz_ntfs_deep"), "%s_b%d" % (name, blocks),
                  bytes([0, blocks]) + sparse_seed(disk))
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
    small_volumes(sys.argv[2])
