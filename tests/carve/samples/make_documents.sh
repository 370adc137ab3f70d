#!/usr/bin/env bash
# PDF, PostScript and drawing samples for the carve harness: PDFs written by
# Ghostscript (with and without document information, an Illustrator file
# saved as PDF), linearized by qpdf, and given an incremental update by
# make_documents.py; PostScript and EPS from Ghostscript and netpbm;
# Illustrator PostScript, binary EPS, DXF and the formats no Debian tool
# writes built by make_documents.py from their published layouts.
#   make_documents.sh WORK OUTDIR     (called by MAKE.sh; WORK holds its PPMs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 out=$2
for tool in gs qpdf pnmtops pnmtotiff pdftocairo gpsbabel xmllint python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
# No run-dependent identifiers or dates: the same bytes every time.
pdf() { gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dOmitID -dOmitXMP "$@"; }

cat >"$work/report.ps" <<'PS'
%!PS
[ /Title (Quarterly Report) /Author (Jane Writer) /Subject (Sales) /Creator (Velmora Tests)
  /CreationDate (D:20150601102030Z) /ModDate (D:20160229120000+01'00') /DOCINFO pdfmark
/Helvetica findfont 24 scalefont setfont
72 700 moveto (Hello carved world) show
showpage
PS
pdf -sOutputFile="$out/report.pdf" "$work/report.ps"

# Six pages of text left uncompressed: past 20 KiB. Its title holds digits.
cat >"$work/paper.ps" <<'PS'
%!PS
[ /Title (Report 2019) /Author (Ann Smith) /Creator (Writer) /DOCINFO pdfmark
/Times-Roman findfont 11 scalefont setfont
1 1 6 { /pg exch def
  1 1 60 { /ln exch def 50 780 ln 12 mul sub moveto
    (Line of text in the carved document, page and line follow: ) show
    pg 3 string cvs show ( ) show ln 3 string cvs show } for
  showpage } for
PS
pdf -dOmitInfoDate -dCompressPages=false -sOutputFile="$out/paper.pdf" "$work/paper.ps"

# No document information at all (the producer alone says nothing).
cat >"$work/drawing.ps" <<'PS'
%!PS
/Helvetica findfont 18 scalefont setfont
72 72 moveto (Carved drawing) show
newpath 72 100 moveto 200 160 lineto 260 110 lineto closepath stroke
showpage
PS
pdf -dOmitInfoDate -sOutputFile="$out/plain.pdf" "$work/drawing.ps"

# Saved by Illustrator as PDF: its creator says so.
cat >"$work/art.ps" <<'PS'
%!PS
[ /Author (Ivy Drawer) /Creator (Adobe Illustrator CS6 \(Macintosh\))
  /CreationDate (D:20130405060708Z) /ModDate (D:20130405060708Z) /DOCINFO pdfmark
newpath 100 100 moveto 300 300 lineto 500 100 lineto closepath fill
showpage
PS
pdf -sOutputFile="$out/art.ai" "$work/art.ps"

# Linearized: an "%%EOF" after the first page's part, the rest after it.
qpdf --linearize --deterministic-id "$out/report.pdf" "$out/linear.pdf"
# An incremental update appended: a second "%%EOF" ends the file.
python3 "$here/make_documents.py" update "$out/report.pdf" "$out/updated.pdf"

for f in report.pdf paper.pdf plain.pdf art.ai linear.pdf updated.pdf; do
  qpdf --check "$out/$f" >/dev/null || { echo "qpdf refuses $f" >&2; exit 1; }
done

# PostScript and EPS: Ghostscript's EPS and PostScript writers (their
# creation date fixed), netpbm's EPS of a picture, and the binary DOS form
# wrapping that one with a TIFF preview.
ps() { gs -q -dNOPAUSE -dBATCH -dSAFER "$@"; }
fixdate() { sed -i 's/^%%CreationDate: .*/%%CreationDate: D:20150601102030Z00'"'"'00'"'"'/' "$1"; }
ps -sDEVICE=eps2write -sOutputFile="$out/figure.eps" "$work/drawing.ps"
fixdate "$out/figure.eps"
ps -sDEVICE=ps2write -sOutputFile="$out/page.ps" "$work/drawing.ps"
fixdate "$out/page.ps"
pnmtops -noturn "$work/icon32.ppm" >"$out/photo.eps" 2>/dev/null
pnmtotiff "$work/icon32.ppm" >"$work/preview.tif" 2>/dev/null
python3 "$here/make_documents.py" dos-eps "$out/photo.eps" "$work/preview.tif" "$out/binary.eps"
# Illustrator's PostScript form, and a FreeHand 11 document.
python3 "$here/make_documents.py" ai-ps "$out/poster.ai"
python3 "$here/make_documents.py" fh11 "$out/flyer.fh11"
for f in figure.eps page.ps photo.eps binary.eps poster.ai; do
  ps -sDEVICE=nullpage "$out/$f" >/dev/null || { echo "gs refuses $f" >&2; exit 1; }
done

# DXF drawings from ezdxf: line feeds after a comment line, and carriage
# returns with line feeds.
python3 "$here/make_dxf.py" "$out"

# XML-headed files: an SVG drawn by poppler from a PDF, a GPS track written
# by GPSBabel (its clock frozen), a property list written by Python's
# plistlib; a note export, a citation style and the binary SVG form built
# by make_documents.py.
pdftocairo -svg "$out/plain.pdf" "$out/drawing.svg"
# Without its XML declaration, as icon sets and web pages keep them.
sed '1d' "$out/drawing.svg" >"$out/bare.svg"
printf 'lat,lon,name,date,time\n48.8583,2.2945,Tower,2015/06/01,10:20:30\n48.8606,2.3376,Museum,2015/06/01,11:00:00\n48.8530,2.3499,Cathedral,2015/06/01,12:15:00\n' >"$work/points.csv"
GPSBABEL_FREEZE_TIME=y gpsbabel -i unicsv -f "$work/points.csv" -o gpx -F "$out/track.gpx"
python3 - "$out/settings.plist" <<'PY'
import plistlib, sys
data = {"Name": "Carved settings", "Recent": ["a.txt", "b.txt"], "Size": [640, 480], "Visible": True}
with open(sys.argv[1], "wb") as f:
    plistlib.dump(data, f)
PY
python3 "$here/make_documents.py" xml "$out"
# Camera raw files no Debian tool writes; dcraw identifies both.
python3 "$here/make_documents.py" x3f "$out/sigma.x3f"
python3 "$here/make_documents.py" mrw "$out/minolta.mrw"
for f in drawing.svg bare.svg track.gpx settings.plist notes.enex style.csl; do
  xmllint --noout "$out/$f" || { echo "xmllint refuses $f" >&2; exit 1; }
done
