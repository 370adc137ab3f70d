#!/usr/bin/env bash
# Makes the carve samples of archives, text, stores and structured pictures
# into OUTDIR: GNU tar, Python's tarfile, GNU and Python gzip, jlha, keytool,
# netpbm and ImageMagick for what they write; make_archives.py for the
# formats no Debian tool writes.
#   tests/carve/samples/make_archives.sh OUTDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
for tool in tar gzip jlha keytool xxd pnmtopng pnmquant ppmtogif python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
python3 "$here/make_pictures.py" "$work"
# Archives: GNU tar and Python's tarfile (a folder first, an empty file, a
# subfolder), GNU gzip and Python's gzip of text over 64 KiB, an LHA archive
# from jlha; RAR, StuffIt and disk images by make_archives.py.
mkdir -p "$work/tree/docs/sub" "$work/tree/empty"
seq 1 2500 >"$work/tree/numbers.txt"
printf 'carved tar sample\n' >"$work/tree/docs/readme.txt"
: >"$work/tree/docs/empty.txt"
seq 7 3 9000 >"$work/tree/docs/sub/deep.txt"
tar --sort=name --mtime=@1500000000 --owner=0 --group=0 --numeric-owner --format=gnu \
  -cf "$out/folder.tar" -C "$work" tree
(cd "$work" && python3 -c '
import sys, tarfile
with tarfile.open(sys.argv[1], "w", format=tarfile.PAX_FORMAT) as t:
    for name in ["tree/docs", "tree/docs/readme.txt", "tree/numbers.txt", "tree/docs/sub/deep.txt"]:
        info = t.gettarinfo(name)
        info.mtime, info.uid, info.gid, info.uname, info.gname = 1500000000, 0, 0, "", ""
        if info.isfile():
            with open(name, "rb") as f:
                t.addfile(info, f)
        else:
            t.addfile(info)
' "$out/pax.tar")
# gzip: the length field of a member of 64 KiB to 16 MiB ends in one zero byte.
lines=14000
while :; do
  seq 1 "$lines" | sed 's/^/gzip carve line /' >"$work/big.txt"
  gzip -9 -c -n "$work/big.txt" >"$out/text.gz"
  python3 "$here/make_archives.py" fit-tail "$out/text.gz" 2>/dev/null && break
  lines=$((lines + 1))
done
python3 -c '
import gzip, io, sys
data = open(sys.argv[1], "rb").read()
for extra in range(400):
    buf = io.BytesIO()
    with gzip.GzipFile(fileobj=buf, mode="wb", mtime=1500000000, filename="big.txt") as g:
        g.write(data + b"#" * extra)
    n = len(buf.getvalue())
    if all(0 < n % s <= s - 16 for s in (512, 4096)):
        open(sys.argv[2], "wb").write(buf.getvalue())
        break
' "$work/big.txt" "$out/python_text.gz"
# A member below 64 KiB: its length field ends in two zero bytes, so only
# the deflate stream tells where it ends.
seq 1 3000 | sed 's/^/small gzip line /' >"$work/small.txt"
gzip -9 -c -n "$work/small.txt" >"$out/small.gz"
(cd "$work/tree" && jlha a "$work/members.lzh" numbers.txt docs/readme.txt docs/sub/deep.txt >/dev/null)
cp "$work/members.lzh" "$out/members.lzh"
python3 "$here/make_archives.py" archives "$out"

# Text: RTF as WordPad ends it, HTML in UTF-16.
python3 "$here/make_archives.py" text "$out"

# Stores: a Java key store of three key pairs (keytool), password safe,
# music score, mail folders and an e-book (make_archives.py).
while :; do
  rm -f "$work/keys.jks"
  for alias in carve one two; do
    keytool -genkeypair -storetype JKS -keystore "$work/keys.jks" -storepass velmora -keypass velmora \
      -alias "$alias" -dname "CN=$alias, O=Velmora" -keyalg RSA -keysize 2048 -validity 3650 2>/dev/null
  done
  last=$(tail -c 1 "$work/keys.jks" | xxd -p)
  [ "$last" != "00" ] && python3 "$here/make_archives.py" fit-tail "$work/keys.jks" 2>/dev/null && break
done
cp "$work/keys.jks" "$out/keys.jks"
python3 "$here/make_archives.py" stores "$out"

# Pictures walked by their structure: PNG and GIF from netpbm, Photoshop
# documents raw and run-length coded from ImageMagick; Paint Shop Pro,
# OneNote, InDesign and WordPerfect graphics by make_archives.py.
im=$(command -v convert-im6.q16 || command -v convert) || { echo "missing convert (imagemagick)" >&2; exit 77; }
pnmtopng "$work/icon128.ppm" >"$out/picture.png" 2>/dev/null
pnmtopng -interlace "$work/thumb.ppm" >"$out/interlaced.png" 2>/dev/null
pnmquant 200 "$work/landscape.ppm" 2>/dev/null | ppmtogif >"$out/palette.gif" 2>/dev/null
pnmquant 16 "$work/thumb.ppm" 2>/dev/null | ppmtogif >"$work/small.gif" 2>/dev/null
"$im" "$work/icon32.ppm" -compress none "$out/raw.psd"
"$im" "$work/thumb.ppm" -compress RLE "$out/runs.psd"
python3 "$here/make_archives.py" pictures "$out" "$work/small.gif"

# Documents read from their header: a TrueType subset (fonttools), a Flash
# movie (ffmpeg); metafiles, WordPerfect, Outlook, media library and a
# mailbox, a presentation and an Access 2007 database by make_archives.py.
for tool in pyftsubset ffmpeg sqlite3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
pyftsubset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text="Velmora carve 0123456789" \
  --output-file="$out/subset.ttf" 2>/dev/null
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=5 -t 1 -fflags +bitexact -flags +bitexact \
  -f swf "$out/clip.swf"
python3 "$here/make_archives.py" documents "$out"
# Streamed documents: a CIFF raw picture, After Effects projects with and
# without an XMP packet, an NGRR recording, drawings of R2000, R2004 and
# R2007 (make_archives.py).
python3 "$here/make_archives.py" streamed "$out"

# SQLite databases of four kinds (sqlite3): events; an address book's
# table of short names; a music-score library in UTF-16 whose first table
# is "active"; a sketch document with payload and metadata tables.
rm -f "$work"/*.db
sqlite3 "$work/events.db" <<'SQL'
PRAGMA page_size=4096;
CREATE TABLE event(id INTEGER PRIMARY KEY, name TEXT, at INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<400)
INSERT INTO event(name, at) SELECT 'event number ' || i, 1500000000 + i FROM n;
CREATE TABLE note(body TEXT);
INSERT INTO note VALUES('carved database');
SQL
sqlite3 "$work/contacts.abcddb" <<'SQL'
PRAGMA page_size=4096;
CREATE TABLE entity(name TEXT);
INSERT INTO entity VALUES('ABCDRecord'),('ABCDPhoneNumber'),('ABCDEmailAddress'),('ABCDPostalAddress'),
  ('ABCDNote'),('ABCDGroup'),('ABCDContactIndex'),('ABCDDeletedRecordLog'),('ABCDDistributionList'),
  ('ABCDInstantMessage'),('ABCDLikeness'),('ABCDMembership'),('ABCDNotesSync'),('ABCDRelatedName'),
  ('ABCDSocialProfile'),('ABCDUrlAddress'),('ABCDCustomProperty'),('ABCDDate'),('ABCDDateComponents'),
  ('ABCDContactDate'),('ABCDAccount'),('ABCDSource'),('ABCDAlert'),('ABCDRemoteLocation'),
  ('ABCDSharedPhotoDisplay'),('ABCDCalendarURI'),('ABCDTag'),('ABCDLabel');
CREATE TABLE detail(id INTEGER PRIMARY KEY, value TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<300)
INSERT INTO detail(value) SELECT 'contact detail ' || i FROM n;
SQL
sqlite3 "$work/scores.muse" <<'SQL'
PRAGMA encoding='UTF-16le';
PRAGMA page_size=4096;
CREATE TABLE active(id INTEGER PRIMARY KEY, title TEXT, composer TEXT, year INTEGER, pages INTEGER, notes TEXT, tempo TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<200)
INSERT INTO active(title, composer, year) SELECT 'score ' || i, 'composer ' || (i % 9), 1900 + i FROM n;
SQL
sqlite3 "$work/drawing.sketch" <<'SQL'
PRAGMA page_size=4096;
CREATE TABLE metadata(key TEXT, value BLOB);
CREATE TABLE payload(id INTEGER PRIMARY KEY, data BLOB);
INSERT INTO metadata VALUES('app', 'carve'), ('version', '88');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<100)
INSERT INTO payload(data) SELECT zeroblob(100) || 'layer ' || i FROM n;
SQL
cp "$work/events.db" "$work/contacts.abcddb" "$work/scores.muse" "$work/drawing.sketch" "$out/"

# A 3D Studio mesh exported by assimp, given the version chunk first.
command -v assimp >/dev/null || { echo "missing assimp (scripts/install-deps.sh)" >&2; exit 77; }
python3 "$here/make_archives.py" sphere "$work/ball.obj"
assimp export "$work/ball.obj" "$work/ball.3ds" >/dev/null
python3 "$here/make_archives.py" mesh "$out/ball.3ds" "$work/ball.3ds"
