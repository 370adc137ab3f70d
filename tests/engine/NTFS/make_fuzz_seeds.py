#!/usr/bin/env python3
"""Seeds for the NTFS fuzz targets, cut from the fixture images: whole file
records (with the records after them, which attribute lists may name),
mapping pairs of $DATA attributes, index blocks and a $LogFile record page.

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


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
