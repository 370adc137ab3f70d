#!/usr/bin/env bash
# Makes the carve harness's sample files into this folder (or OUTDIR).
# Real files come from Debian tools: cjpeg and jpegtran (libjpeg-turbo-progs),
# exiftool (libimage-exiftool-perl), netpbm, icotool (icoutils), png2icns
# (icnsutils), sox, gcab, gzip. Formats no Debian tool writes are built by
# make_handbuilt.py from their published layouts. Pictures start as PPM
# made by make_pictures.py, so every run gives the same pixels.
#   tests/carve/samples/MAKE.sh [OUTDIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
for tool in cjpeg jpegtran exiftool ppmtobmp pnmtopng icotool png2icns sox gcab gzip python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
python3 "$here/make_pictures.py" "$work"
exif() { exiftool -q -q -overwrite_original "$@"; }

# JPEG: JFIF baseline and progressive, grayscale.
cjpeg -quality 85 -optimize "$work/landscape.ppm" >"$out/jfif_baseline.jpg"
cjpeg -quality 80 -progressive "$work/landscape.ppm" >"$out/jfif_progressive.jpg"
cjpeg -quality 90 -grayscale "$work/portrait.ppm" >"$out/gray.jpg"
# A camera picture: JFIF, then the EXIF block with make, model and date, and
# a thumbnail inside it.
cjpeg -quality 88 "$work/large.ppm" >"$out/exif_camera.jpg"
cjpeg -quality 60 "$work/thumb.ppm" >"$work/thumb.jpg"
exif -Make=Maker -Model="Model X1" -DateTimeOriginal="2015:06:01 10:20:30" \
  "-ThumbnailImage<=$work/thumb.jpg" "$out/exif_camera.jpg"
# EXIF first (no JFIF segment): starts FF D8 FF E1 "Exif".
cjpeg -quality 75 "$work/portrait.ppm" >"$out/exif_only.jpg"
exif -JFIF:all= -Make=Acme -Model="<Proto>" -DateTimeOriginal="2019:12:31 23:59:58" "$out/exif_only.jpg"
# No JFIF or EXIF segment: the quantisation table comes first (FF D8 FF DB).
cjpeg -quality 70 "$work/landscape.ppm" >"$work/dqt.jpg"
jpegtran -copy none "$work/dqt.jpg" >"$work/dqt2.jpg"
exif -all= "$work/dqt2.jpg"
python3 "$here/make_handbuilt.py" strip-app0 "$work/dqt2.jpg" "$out/dqt_first.jpg"
# End of image exactly at a sector end, and split across two sectors (FF the
# last byte of a sector, D9 the first of the next), for 512 and 4096 bytes.
cjpeg -quality 83 "$work/portrait.ppm" >"$work/p.jpg"
python3 "$here/make_handbuilt.py" pad-jpeg "$work/p.jpg" "$out/eoi_boundary.jpg" 0
python3 "$here/make_handbuilt.py" pad-jpeg "$work/p.jpg" "$out/eoi_split.jpg" 1
# A picture that holds JPEG-like starts at sector boundaries inside its own
# comment segments: while it streams, more than 32 candidates open.
cjpeg -quality 85 "$work/portrait.ppm" >"$work/c.jpg"
python3 "$here/make_handbuilt.py" crowd-jpeg "$work/c.jpg" "$out/crowded.jpg"

# Header-sized formats.
ppmtobmp "$work/portrait.ppm" >"$out/image.bmp" 2>/dev/null
pnmtopng "$work/icon32.ppm" >"$work/icon32.png" 2>/dev/null
pnmtopng "$work/icon16.ppm" >"$work/icon16.png" 2>/dev/null
pnmtopng "$work/icon128.ppm" >"$work/icon128.png" 2>/dev/null
icotool -c -o "$out/icon.ico" "$work/icon16.png" "$work/icon32.png"
icotool -c --cursor --hotspot-x=3 --hotspot-y=4 -o "$out/pointer.cur" "$work/icon32.png"
png2icns "$out/image.icns" "$work/icon128.png" >/dev/null
sox -n -r 8000 -c 1 -b 16 "$out/tone.au" synth 0.7 sine 440 2>/dev/null
printf 'carved cabinet sample\n' >"$work/readme.txt"
cp "$work/icon32.png" "$work/logo.png"
(cd "$work" && gcab -c -z "$out/archive.cab" readme.txt logo.png)
python3 "$here/make_handbuilt.py" headers "$out"

# TIFF and camera raw files.
bash "$here/make_tiff.sh" "$work" "$out"
# PDF, PostScript and drawings.
bash "$here/make_documents.sh" "$work" "$out"

# Formats whose streaming analysers come later: their whole-file sizers are
# tested on these.
printf 'carved gzip sample %s\n' "$(seq 1 400)" >"$work/text.txt"
gzip -9 -c -n "$work/text.txt" >"$out/plain.gz"
python3 "$here/make_handbuilt.py" sizers "$out" "$work/text.txt"
"$here/make_office.sh" "$out"
"$here/make_archives.sh" "$out"

# Audio and video.
bash "$here/make_media.sh" "$out" "$work"
# Files sized exactly by their own structure.
bash "$here/make_exact.sh" "$out" "$work"
echo "samples in $out"
