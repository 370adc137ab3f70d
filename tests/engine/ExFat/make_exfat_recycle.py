#!/usr/bin/env python3
"""An exFAT volume holding a Windows recycle bin: "$R" data files (and a
recycled folder) beside the "$I" files that keep their original paths, the
same bin the NTFS and FAT recycle fixtures hold; mkfs.exfat, then the
entries written by make_exfat_volume.py (no mount, no root).

usage: make_exfat_recycle.py IMAGE"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "..", "fixtures")
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(FIXTURES, "lib"))
sys.path.insert(0, os.path.join(FIXTURES, "ntfs"))
import fixturelib as fx  # noqa: E402
import make as ntfs  # noqa: E402
import make_exfat_volume as gen  # noqa: E402

MIB = 1 << 20


def main(argv):
    img = argv[0]
    if os.path.exists(img):
        os.unlink(img)
    subprocess.run(["truncate", "-s", "16M", img], check=True)
    subprocess.run(["mkfs.exfat", "-L", "RECYCLE", "-c", "4096", img], check=True,
                   stdout=subprocess.DEVNULL)
    vol = gen.Volume(img)
    m = fx.Manifest(img, "exfat")
    mv = m.volume(0, 16 * MIB, "exFAT", "RECYCLE", cluster_size=vol.csize)
    t = fx.EPOCH + 90 * 86400
    data, index = ntfs.recycle_bin(t)
    entries = [(p, b, mt, {"recycled_name": o} if o else {}) for p, b, mt, o in data]
    entries += [(p, b, mt, {"recycle_index": True}) for p, b, mt in index]
    entries.append(("/keep.txt", fx.text(500, "keep"), t, {}))
    gen.write_tree(vol, mv, entries, {ntfs.RECYCLE_SID + "/$RFOLD01": {"recycled_name": "Old folder"}})
    vol.finish()
    m.note("The recycle bin's $R files carry recycled_name, the original name their $I file keeps.")
    m.write(img)


if __name__ == "__main__":
    main(sys.argv[1:])
