#!/usr/bin/env python3
"""Writes the seeds of the APFS fuzz targets from the fixture container
(tests/fixtures/apfs/mkapfs_fixture.py, which needs mkapfs).

usage: make_fuzz_seeds.py CORPUS_ROOT      (normally fuzz/corpus)

fuzz_apfs_container takes a small disk: the fixture's container superblock,
object maps, volume superblock, file-system tree root and lost leaf, moved
to blocks 0-7 with every address that links them rewritten, so that the walk
reaches each of them inside the seed. The same disk once more with the
container one block into it (a container that does not start at sector 0).

fuzz_apfs_records takes one file-system tree node, or two in a row (the
target hands the second to the same container at another block, so copies
of one file merge)."""
import json
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE = os.path.join(HERE, "..", "..", "fixtures", "apfs", "mkapfs_fixture.py")
BS = 4096
# Blocks the seed's walk may address: room for the lost leaf's object
# identifier (1100), which must lie below the block count.
SEED_BLOCK_COUNT = 2048


def write(root, target, name, data):
    folder = os.path.join(root, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as fh:
        fh.write(data)


def u64(block, at):
    return struct.unpack_from("<Q", block, at)[0]


def put64(block, at, value):
    struct.pack_into("<Q", block, at, value)


def omap_leaf_values(node):
    """Offsets of the physical addresses of a root object-map leaf's values."""
    keys = struct.unpack_from("<I", node, 36)[0]
    out = []
    for i in range(keys):
        v = struct.unpack_from("<H", node, 56 + 4 * i + 2)[0]
        out.append(BS - 40 - v + 8)
    return out


def compact(img, manifest):
    vol = manifest["volumes"][0]

    def block(n):
        return bytearray(img[n * BS:(n + 1) * BS])

    nx = block(0)
    omap_at = u64(nx, 160)
    omap = block(omap_at)
    omap_root_at = u64(omap, 48)
    omap_root = block(omap_root_at)
    vsb_at = vol["volume_superblock_block"]
    vsb = block(vsb_at)
    vomap_at = u64(vsb, 128)
    vomap = block(vomap_at)
    vomap_root_at = u64(vomap, 48)
    vomap_root = block(vomap_root_at)
    fs_root = block(vol["fs_root_block"])
    lost = block(vol["lost_node"]["block"])

    new = {omap_at: 1, omap_root_at: 2, vsb_at: 3, vomap_at: 4, vomap_root_at: 5,
           vol["fs_root_block"]: 6, vol["lost_node"]["block"]: 7}
    put64(nx, 40, SEED_BLOCK_COUNT)
    put64(nx, 160, 1)
    put64(omap, 48, 2)
    for at in omap_leaf_values(omap_root):
        put64(omap_root, at, new.get(u64(omap_root, at), 0))
    put64(vsb, 128, 4)
    put64(vomap, 48, 5)
    for at in omap_leaf_values(vomap_root):
        put64(vomap_root, at, new.get(u64(vomap_root, at), 0))
    # Physical objects are named by their block.
    for obj, at in ((omap, 1), (omap_root, 2), (vomap, 4), (vomap_root, 5)):
        put64(obj, 8, at)
    blocks = [nx, omap, omap_root, vsb, vomap, vomap_root, fs_root, lost]
    return b"".join(bytes(b) for b in blocks), bytes(fs_root), bytes(lost)


def main(root):
    with tempfile.TemporaryDirectory() as tmp:
        image = os.path.join(tmp, "apfs.img")
        subprocess.run([sys.executable, FIXTURE, image], check=True, stdout=subprocess.DEVNULL)
        with open(image, "rb") as fh:
            img = fh.read()
        with open(os.path.join(tmp, "apfs.json"), encoding="utf-8") as fh:
            manifest = json.load(fh)
    disk, fs_root, lost = compact(img, manifest)
    write(root, "fuzz_apfs_container", "fixture_blocks", disk)
    write(root, "fuzz_apfs_container", "fixture_one_block_in", bytes(BS) + disk)
    write(root, "fuzz_apfs_records", "fs_root", fs_root)
    write(root, "fuzz_apfs_records", "lost_leaf", lost)
    write(root, "fuzz_apfs_records", "fs_root_then_lost_leaf", fs_root + lost)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
