#!/usr/bin/env bash
# Samples whose exact end their own structure tells, made by Debian tools:
# RIFF files of odd and even lengths (ffmpeg WAV, AVI and WebP), an ASF file
# with its simple index, an ADTS stream, a gzip file of two members, two
# pictures in one JPEG file as cameras write them, and a SQLite database
# with freed pages between its tables. Called by MAKE.sh.
#   tests/carve/samples/make_exact.sh OUTDIR WORKDIR
set -euo pipefail
out=$(cd "$1" && pwd) work=$2
for tool in ffmpeg gzip cjpeg exiftool sqlite3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
export TZ=UTC LC_ALL=C.UTF-8
ff() {
  local target=${*: -1}
  ffmpeg -nostdin -hide_banner -loglevel error -y "${@:1:$#-1}" -fflags +bitexact -flags:v +bitexact \
    -flags:a +bitexact "$target"
}
# RIFF: 8-bit mono sound with an odd data chunk (and its pad byte), an AVI
# and a WebP still.
ff -f lavfi -i "sine=frequency=523:sample_rate=22050:duration=0.61" -c:a pcm_u8 "$out/recording.wav"
ff -f lavfi -i "testsrc=size=64x48:rate=5:duration=1" -c:v mpeg4 "$out/clip.avi"
ff -f lavfi -i "testsrc=size=64x48:rate=5" -frames:v 1 -c:v libwebp "$out/still.webp"
# SQLite (secure deletion on, as Debian builds it): most rows of the first of
# two tables deleted, so zeroed free pages lie between the tables' pages.
rm -f "$work/visits.db"
sqlite3 "$work/visits.db" <<'SQL'
PRAGMA page_size=1024;
CREATE TABLE visit(id INTEGER PRIMARY KEY, place TEXT, note TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<600)
INSERT INTO visit(place, note) SELECT 'place ' || i, printf('%.40c', 'v') FROM n;
CREATE TABLE photo(id INTEGER PRIMARY KEY, caption TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<300)
INSERT INTO photo(caption) SELECT 'caption of photo ' || i FROM n;
DELETE FROM visit WHERE id > 100;
SQL
cp "$work/visits.db" "$out/visits.db"
# Two pictures in one file, the second right after the first's end of image
# (as multi-picture and burst files hold them): a plain pair and a camera
# picture with a smaller one after it.
cjpeg -quality 82 "$work/landscape.ppm" >"$work/first.jpg"
cjpeg -quality 70 "$work/thumb.ppm" >"$work/second.jpg"
cat "$work/first.jpg" "$work/second.jpg" >"$out/pair.jpg"
cjpeg -quality 88 "$work/portrait.ppm" >"$work/camera.jpg"
exiftool -q -q -overwrite_original -Make=Maker -Model="Model Y2" "$work/camera.jpg"
cat "$work/camera.jpg" "$work/second.jpg" >"$out/camera_pair.jpg"
for f in first camera; do
  size=$(stat -c %s "$work/$f.jpg")
  if ((size % 512 == 0)); then echo "$f.jpg ends at a sector boundary" >&2; exit 1; fi
done
# gzip: two members, as "gzip -c a >f; gzip -c b >>f" writes them.
seq 1 3000 | sed 's/^/first member line /' | gzip -9 -c -n >"$out/members.gz"
seq 1 2000 | sed 's/^/second member line /' | gzip -6 -c -n >>"$out/members.gz"
# A raw AAC stream of ADTS frames.
ff -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=1.3" -c:a aac -f adts "$out/stream.aac"
# A mailbox (Python's mailbox module) whose last message has neither a
# signature separator nor an address line at its end.
rm -f "$work/inbox.mbox"
python3 - "$work/inbox.mbox" <<'PY'
import email.message, mailbox, sys, time
box = mailbox.mbox(sys.argv[1], create=True)
for i in range(4):
    m = email.message.Message()
    m["From"] = "Writer %d <writer%d@example.org>" % (i, i)
    m["To"] = "inbox@example.org"
    m["Subject"] = "Inbox message %d" % i
    m["Date"] = "Tue, 2 Jan 2018 09:%02d:00 +0000" % i
    m.set_payload("".join("text %d of inbox message %d\n" % (k, i) for k in range(30 + 5 * i)))
    message = mailbox.mboxMessage(m)
    message.set_from("writer%d@example.org" % i, time.gmtime(1514883600 + 60 * i))
    box.add(message)
box.flush()
box.close()
PY
cp "$work/inbox.mbox" "$out/inbox.mbox"
# A PDF (Ghostscript, pages left uncompressed) whose content stream shows
# the text "%%EOF".
command -v gs >/dev/null || { echo "missing gs (scripts/install-deps.sh)" >&2; exit 77; }
printf '%s\n' '%!PS' '/Courier findfont 12 scalefont setfont' \
  '72 720 moveto (Marker %%EOF in the text) show' '72 700 moveto (%%EOF) show' 'showpage' >"$work/eof.ps"
gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -dOmitID -dOmitXMP -dOmitInfoDate -dCompressPages=false \
  -o "$work/eof.pdf" "$work/eof.ps"
cp "$work/eof.pdf" "$out/eof_text.pdf"
# Compound files of the kinds told apart by their first directory entries
# (gsf createole keeps the order its streams are given in): 3ds Max scene,
# Inventor part, Publisher, Quattro Pro, AAF, Project and Access project.
command -v gsf >/dev/null || { echo "missing gsf (scripts/install-deps.sh)" >&2; exit 77; }
ole() {
  local target=$1
  shift
  rm -rf "$work/ole" "$out/$target"
  mkdir -p "$work/ole"
  local i=0
  for name in "$@"; do
    i=$((i + 1))
    seq 1 $((300 * i)) | sed "s/^/$target stream $i line /" >"$work/ole/$name"
    touch -d @1500000000 "$work/ole/$name"  # the stream's time goes into the file
  done
  (cd "$work/ole" && gsf createole "$out/$target" "$@" >/dev/null 2>&1)
}
ole scene.max Scene Config
ole part.ipt RSeStorage RSeEmbeddings
ole leaflet.pub Objects Quill Escher
ole sheet.qpw NativeContent_MAIN
ole media.aaf properties
ole plan.mpp $'\001CompObj' '   19' '   29'
ole forms.adp PropData Forms Reports
# A motion photo: the picture, then its clip (an MP4 movie) right after its
# end of image.
ff -f lavfi -i "testsrc=size=64x48:rate=5:duration=1" -c:v mpeg4 -f mp4 "$work/clip.mp4"
cat "$work/first.jpg" "$work/clip.mp4" >"$out/motion.jpg"
