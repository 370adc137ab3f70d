#!/usr/bin/env bash
# Makes the office-document and ZIP samples of the carve harness into this
# folder (or OUTDIR); MAKE.sh runs it with the others.
#   tests/carve/samples/make_office.sh [OUTDIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(cd "${1:-$here}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
# Office documents and ZIP containers. Compound files: xlwt and Perl's
# Spreadsheet::WriteExcel (with its summary), msibuild (msitools), gsf
# createole (libgsf-bin), and make_office.py for the types no tool writes.
# ZIP: Info-ZIP zip (plain, commented, piped with data descriptors, Zip64),
# python-docx, openpyxl, the JDK's jar when installed, and make_office.py.
# Debian's own python3 has the python3-* modules.
for tool in zip unzip msibuild gsf perl /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
dpy=/usr/bin/python3
office="$here/make_office.py"
mkdir -p "$work/z/sub" "$work/z/jar/org/example" "$work/z/doc"
HERE="$here" python3 -c 'import os,sys; sys.path.insert(0, os.environ["HERE"]); import make_office as m
d = sys.argv[1]
open(d + "/notes.txt", "wb").write(m.filler(30, 20000))
open(d + "/data.csv", "wb").write(m.filler(31, 9000))' "$work/z"
cp "$work/z/data.csv" "$work/z/sub/more.csv"
touch -d '2021-05-06 07:08:10' "$work/z/notes.txt" "$work/z/data.csv" "$work/z/sub/more.csv" "$work/z/sub"
(cd "$work/z" && rm -f "$out"/plain.zip "$out"/comment.zip "$out"/zip64.zip &&
  zip -q -X "$out/plain.zip" notes.txt sub/ sub/more.csv &&
  echo 'Archive comment: made for the carving tests' | zip -q -X -z "$out/comment.zip" notes.txt data.csv &&
  zip -q -X - notes.txt data.csv | cat >"$out/piped.zip" &&
  zip -q -X -fz "$out/zip64.zip" notes.txt data.csv)
# Bits 1 and 2 (the deflate level) beside bit 3.
python3 "$office" flags "$out/piped.zip" "$out/piped_0a.zip" 0x000A
python3 "$office" stream "$out/stream.zip"
python3 "$office" zip "$out"
$dpy "$office" docx "$out/report.docx"
$dpy "$office" xlsx "$out/budget.xlsx"
if command -v jar >/dev/null; then
  cp "$work/z/notes.txt" "$work/z/jar/org/example/"
  (cd "$work/z/jar" && rm -f "$out/app.jar" && jar --create --file "$out/app.jar" --date=2021-05-06T07:08:10Z org)
fi
$dpy "$office" xls "$out/prices.xls"
cat >"$work/z/book.pl" <<'PL'
use Spreadsheet::WriteExcel;
my $wb = Spreadsheet::WriteExcel->new($ARGV[0]);
my $ws = $wb->add_worksheet('Sheet1');
for my $r (0..100) { for my $c (0..5) { $ws->write($r, $c, $r * $c); } }
$wb->set_properties(title => 'Sales figures', author => 'Tom Seller', created => [10, 20, 9, 1, 5, 114]);
$wb->close();
PL
perl "$work/z/book.pl" "$out/summary.xls"
rm -f "$out/setup.msi"
msibuild "$out/setup.msi" -s "Sample installer" "Velmora tests" ";1033" "{12345678-1234-1234-1234-123456789ABC}"
msibuild "$out/setup.msi" -a Readme "$work/z/notes.txt"
cp "$work/z/notes.txt" "$work/z/doc/WordDocument"
cp "$work/z/data.csv" "$work/z/doc/1Table"
(cd "$work/z/doc" && rm -f "$out/memo.doc" && gsf createole "$out/memo.doc" WordDocument 1Table >/dev/null 2>&1)
python3 "$office" ole "$out"
# Every container opens with a reader that is not ours.
for f in "$out"/*.zip "$out"/*.docx "$out"/*.xlsx "$out"/*.pptx "$out"/*.od? "$out"/*.epub \
  "$out"/*.pages "$out"/*.key "$out"/*.numbers "$out"/*.olm "$out"/*.tax "$out"/*.cdr "$out"/*.jar; do
  [ -e "$f" ] && unzip -tqq "$f" >/dev/null
done
for f in "$out"/*.xls "$out"/*.ppt "$out"/*.doc "$out"/*.vsd "$out"/*.msi; do
  case "$f" in */word2.doc) continue ;; esac
  gsf list "$f" >/dev/null
done
