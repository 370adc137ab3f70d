#!/usr/bin/env bash
# Seeds of the signature-search fuzz targets, from the carve samples
# (samples/MAKE.sh): a few small files as they would lie on a disk (the
# first byte picks a 512-byte sector and blocks of 8 sectors), and the EXIF
# blocks of the camera pictures.
#   tests/carve/make_fuzz_seeds.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
registry=$root/fuzz/corpus/fuzz_rawsearch_registry
exif=$root/fuzz/corpus/fuzz_exif
mkdir -p "$registry" "$exif"
python3 - "$here/samples" "$registry" "$exif" <<'PY'
import os, struct, sys
samples, registry, exif = sys.argv[1:4]
def read(name):
    return open(os.path.join(samples, name), "rb").read()
for name in ["jfif_baseline.jpg", "eoi_split.jpg", "exif_only.jpg", "icon.ico", "tone.au", "archive.cab",
             "help.chm", "drawing.emf", "paint.cpt", "word2.doc", "v5.bmp", "winhelp.hlp", "plain.gz", "song.mid",
             "archive.lzh", "page.html"]:
    data = read(name)
    pad = (-len(data)) % 512
    with open(os.path.join(registry, name), "wb") as f:
        f.write(bytes([14]) + data + bytes(pad))
for name in ["exif_camera.jpg", "exif_only.jpg"]:
    data = read(name)
    at = data.find(b"Exif\0\0")
    length = struct.unpack(">H", data[at - 2:at])[0]
    with open(os.path.join(exif, name + ".exif"), "wb") as f:
        f.write(data[at:at + length - 2])
PY
echo "seeds in $registry and $exif"
