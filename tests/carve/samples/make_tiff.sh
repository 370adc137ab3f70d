#!/usr/bin/env bash
# TIFF and camera-raw samples for the carve harness: TIFFs written by
# ImageMagick and libtiff in both byte orders, strips and tiles; one file per
# maker the TIFF analysers type by, given that maker's make and model by
# exiftool (with the date in IFD0 and in an EXIF directory) and, where the
# maker's raw files begin with their own magic, that header by
# make_tiff.py; a DNG; and an RAF wrapper around a JPEG and a TIFF.
#   make_tiff.sh WORK OUTDIR     (called by MAKE.sh; WORK holds its PPMs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 out=$2
for tool in convert pnmtotiff tiffcp tiffinfo exiftool cjpeg python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
exif() { exiftool -q -q -overwrite_original "$@"; }

# Plain TIFFs: ImageMagick little-endian with one strip, libtiff big-endian
# with LZW strips of 8 rows, libtiff tiles.
convert "$work/thumb.ppm" -compress none "$out/plain_ii.tif"
pnmtotiff <"$work/thumb.ppm" >"$work/base.tif" 2>/dev/null
tiffcp -B -c lzw -r 8 "$work/base.tif" "$out/plain_mm.tif"
tiffcp -L -c zip -t -w 16 -l 16 "$work/base.tif" "$out/tiled.tif"

# One file per maker row. Each starts as an uncompressed libtiff TIFF (big-
# or little-endian by turns), so the picture data ends the file.
maker() {  # name order make model [header]
  local name=$1 order=$2 make=$3 model=$4 header=${5:-}
  # exiftool writes by extension, so the file is a .tif until it is done.
  tiffcp "-$order" -c none "$work/base.tif" "$work/$name.tif"
  exif -Make="$make" -Model="$model" -ModifyDate="2014:03:15 08:09:10" \
    -DateTimeOriginal="2014:03:15 08:09:10" "$work/$name.tif"
  if [ -n "$header" ]; then
    python3 "$here/make_tiff.py" header "$work/$name.tif" "$header"
  fi
  mv "$work/$name.tif" "$out/$name"
}
maker nikon.nef B "NIKON CORPORATION" "NIKON D70"
maker canon.cr2 L "Canon" "Canon EOS 350D DIGITAL"
maker sony_r1.sr2 B "SONY" "DSC-R1"
maker sony.arw L "SONY" "DSLR-A700"
maker panasonic.rw2 L "Panasonic" "DMC-GH1" IIU
maker panasonic.raw L "Panasonic" "DC-FZ80" IIU
maker leica.raw L "LEICA" "DIGILUX 2" IIU
maker kodak_pro.dcr B "KODAK" "DCS Pro SLR/n"
maker kodak.kdc L "EASTMAN KODAK COMPANY" "KODAK EASYSHARE Z1015 IS"
maker epson.erf L "SEIKO EPSON CORP." "R-D1"
maker hasselblad.3fr B "Hasselblad" "H3D-39"
maker mamiya.mef B "Mamiya-OP Co.,Ltd." "ZD"
maker pentax.pef B "PENTAX Corporation" "PENTAX K10D"
maker samsung.srw L "SAMSUNG" "NX10"
maker olympus.orf L "OLYMPUS IMAGING CORP." "E-M5" IIRO
maker olympus_mm.orf B "OLYMPUS OPTICAL CO.,LTD" "E-1" MMOR
# A DNG: the DNG version tag decides the type whatever the camera.
tiffcp -L -c none "$work/base.tif" "$work/dng.tif"
exif -Make=Canon -Model="Canon EOS 5D" -DNGVersion="1 4 0 0" -DNGBackwardVersion="1 1 0 0" \
  "$work/dng.tif"
mv "$work/dng.tif" "$out/canon.dng"

# RAF: FUJIFILM's header, the camera's JPEG (whose EXIF names it), a TIFF at
# byte 160 and the raw data the header points at.
cjpeg -quality 70 "$work/thumb.ppm" >"$work/raf.jpg"
exif -JFIF:all= -Make=FUJIFILM -Model="FinePix S5Pro" -DateTimeOriginal="2009:07:04 12:00:00" \
  "$work/raf.jpg"
tiffcp -B -c none "$work/base.tif" "$work/raf.tif"
exif -Make=FUJIFILM -Model="FinePix S5Pro" "$work/raf.tif"
python3 "$here/make_tiff.py" raf "$work/raf.jpg" "$work/raf.tif" "$out/fuji.raf"

# Every sample must read as what it claims to be to a reader that is not ours.
for f in plain_ii.tif plain_mm.tif tiled.tif nikon.nef canon.cr2 sony_r1.sr2 sony.arw kodak_pro.dcr \
  kodak.kdc epson.erf hasselblad.3fr mamiya.mef pentax.pef samsung.srw canon.dng; do
  tiffinfo "$out/$f" >/dev/null 2>&1 || { echo "tiffinfo refuses $f" >&2; exit 1; }
done
