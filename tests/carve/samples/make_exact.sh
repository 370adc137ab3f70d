#!/usr/bin/env bash
# Samples whose exact end their own structure tells, made by Debian tools:
# RIFF files of odd and even lengths (ffmpeg WAV, AVI and WebP), an ASF file
# with its simple index, an ADTS stream, a gzip file of two members, two
# pictures in one JPEG file as cameras write them, and a SQLite database
# with freed pages between its tables. Called by MAKE.sh.
#   tests/carve/samples/make_exact.sh OUTDIR WORKDIR
set -euo pipefail
out=$1 work=$2
for tool in ffmpeg gzip cjpeg sqlite3; do
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
