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
             "archive.lzh", "page.html", "pair.jpg", "motion.jpg", "members.gz", "stream.aac", "inbox.mbox",
             "visits.db"]:
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
# The TIFF walkers: every TIFF-family sample, and two whose links loop.
tiff=$root/fuzz/corpus/fuzz_tiff
mkdir -p "$tiff"
python3 - "$here/samples" "$tiff" <<'PY'
import os, struct, sys
samples, tiff = sys.argv[1:3]
names = ["plain_ii.tif", "plain_mm.tif", "tiled.tif", "nikon.nef", "olympus.orf", "olympus_mm.orf",
         "panasonic.rw2", "canon.dng", "fuji.raf"]
for name in names:
    data = open(os.path.join(samples, name), "rb").read()
    with open(os.path.join(tiff, name), "wb") as f:
        f.write(bytes([14]) + data)
# IFD0 links to itself; its EXIF pointer points back at it.
loop = bytearray(b"II*\0" + struct.pack("<I", 8))
loop += struct.pack("<H", 2) + struct.pack("<HHII", 273, 4, 1, 8) + struct.pack("<HHII", 34665, 4, 1, 8)
loop += struct.pack("<I", 8)
with open(os.path.join(tiff, "loop.tif"), "wb") as f:
    f.write(bytes([2]) + bytes(loop))
PY
# The PDF sizers: the PDF samples, and one that ends without a trailer.
pdf=$root/fuzz/corpus/fuzz_pdf
mkdir -p "$pdf"
python3 - "$here/samples" "$pdf" <<'PY'
import os, sys
samples, pdf = sys.argv[1:3]
for name in ["report.pdf", "plain.pdf", "art.ai", "linear.pdf", "updated.pdf"]:
    data = open(os.path.join(samples, name), "rb").read()
    with open(os.path.join(pdf, name), "wb") as f:
        f.write(bytes([14]) + data)
with open(os.path.join(pdf, "unfinished.pdf"), "wb") as f:
    f.write(bytes([2]) + b"%PDF-1.4\n1 0 obj\n<</Author(Jane Writer)/Creator(Tests)>>\nendobj\n%%EO")
PY
# The drawing, XML-head and camera-raw analysers' seeds.
drawings=$root/fuzz/corpus/fuzz_drawings
mkdir -p "$drawings"
for name in photo.eps binary.eps flyer.fh11 plan.dxf drawing.svg binary.svg track.gpx settings.plist \
  notes.enex style.csl sigma.x3f minolta.mrw; do
  { printf '\016'; cat "$here/samples/$name"; } >"$drawings/$name"
done

# The audio and video walks: the start of each sample (16 KiB at most),
# as the ISO box walker and the MPEG audio target read them, and a few
# whole media files for the search.
iso=$root/fuzz/corpus/fuzz_iso_box
mpa=$root/fuzz/corpus/fuzz_mpeg_audio
mkdir -p "$iso" "$mpa"
python3 - "$here/samples" "$iso" "$mpa" "$registry" <<'PY'
import os, sys
samples, iso, mpa, registry = sys.argv[1:5]
def read(name):
    return open(os.path.join(samples, name), "rb").read()
for name in ["movie.mov", "camera.mov", "phone.mov", "large.mp4", "trec.mp4", "song.m4a", "clip.3gp"]:
    open(os.path.join(iso, name), "wb").write(read(name)[:16384])
for name in ["tagged.mp3", "latin.mp3", "v1.mp3", "info.mp3", "plain.mp3"]:
    open(os.path.join(mpa, name), "wb").write(read(name)[:16384])
for name in ["tone.ogg", "clip.flv", "song.ape", "clip.mlv", "tone.rm", "tone.wma"]:
    data = read(name)
    with open(os.path.join(registry, name), "wb") as f:
        f.write(bytes([14]) + data + bytes((-len(data)) % 512))
PY
# The gzip member walk: the gzip samples, after a byte that picks the piece
# size of the second feed.
gzip_seeds=$root/fuzz/corpus/fuzz_gzip_members
mkdir -p "$gzip_seeds"
for name in members.gz small.gz named.gz; do
  { printf '\x07'; cat "$here/samples/$name"; } >"$gzip_seeds/$name"
done
echo "seeds in $registry, $exif, $tiff, $pdf, $drawings, $iso and $mpa"
