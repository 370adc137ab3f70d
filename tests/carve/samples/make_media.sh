#!/usr/bin/env bash
# The audio and video samples: ffmpeg for every container it writes, sox and
# lame for audio, id3v2 and make_media.py for tags, make_media.py for the
# layouts a test needs and for the formats no Debian tool writes. Called by
# MAKE.sh with the output folder and its scratch folder (holding the PPM
# pictures of make_pictures.py).
#   tests/carve/samples/make_media.sh OUTDIR WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1 work=$2
for tool in ffmpeg lame sox id3v2 cjpeg python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 77; }
done
export TZ=UTC LC_ALL=C.UTF-8
media() { python3 "$here/make_media.py" "$@"; }
# Same input, same bytes: no encoder names, dates or random ids (the
# flags go with the output), and sox without random dither.
ff() {
  local target=${*: -1}
  ffmpeg -hide_banner -loglevel error -y "${@:1:$#-1}" -fflags +bitexact -flags:v +bitexact \
    -flags:a +bitexact "$target"
}
video="-f lavfi -i testsrc=size=96x64:rate=10:duration=0.6"
audio="-f lavfi -i sine=frequency=440:duration=0.6"

# ISO media: QuickTime, MP4 and its audio and video brands, 3GP.
ff $video $audio -c:v mpeg4 -c:a aac -f mov "$out/movie.mov"
ff $video $audio -c:v mpeg4 -c:a aac -f mp4 "$out/movie.mp4"
ff $audio -c:a aac -f ipod "$out/song.m4a"
ff $video -c:v mpeg4 -brand "M4V " -f mp4 "$out/video.m4v"
ff -f lavfi -i testsrc=size=176x144:rate=10:duration=0.6 -f lavfi -i sine=frequency=440:duration=0.6:sample_rate=8000 \
  -c:v h263 -c:a aac -ac 1 -f 3gp "$out/clip.3gp"
media trec "$out/movie.mp4" "$out/trec.mp4"
media large-mdat "$out/movie.mp4" "$out/large.mp4"
ff $video $audio -c:v mpeg4 -c:a aac -f mov "$work/plain.mov"
media camera-mov "$work/plain.mov" "$out/camera.mov"
media phone-mov "$work/plain.mov" "$out/phone.mov"

# MP3: an ID3v2 tag with a cover, an ISO-8859-1 tag, an ID3v1 tag after bare
# frames, an "Info" frame first, bare frames, and a file crowded with other
# files' starts.
sox -R -n -r 44100 -c 1 -b 16 "$work/a.wav" synth 1.5 sine 440 2>/dev/null
sox -R -n -r 44100 -c 1 -b 16 "$work/b.wav" synth 1.2 sine 660 2>/dev/null
sox -R -n -r 44100 -c 2 -b 16 "$work/c.wav" synth 0.8 sine 330 sine 550 2>/dev/null
sox -R -n -r 44100 -c 1 -b 16 "$work/d.wav" synth 1.6 sine 523 2>/dev/null
sox -R -n -r 44100 -c 1 -b 16 "$work/e.wav" synth 1.4 sine 587 2>/dev/null
lame --quiet -b 64 "$work/a.wav" "$work/a.mp3"
lame --quiet -b 64 "$work/b.wav" "$work/b.mp3"
cjpeg -quality 50 "$work/thumb.ppm" >"$work/cover.jpg"
media id3 "$work/a.mp3" "$out/tagged.mp3" "Some Title" "Some Artist" "2011" --picture "$work/cover.jpg"
media id3 "$work/b.mp3" "$out/latin.mp3" "Café Olé" "Müller" "1999" --latin1
lame --quiet -b 64 "$work/e.wav" "$out/plain.mp3"
cp "$work/a.mp3" "$out/v1.mp3"
id3v2 -1 -a "Other Artist" -t "Other Title" "$out/v1.mp3"
lame --quiet -b 192 "$work/c.wav" "$out/info.mp3"
lame --quiet -b 160 "$work/d.wav" "$work/d.mp3"
media crowd-mp3 "$work/d.mp3" "$out/crowded.mp3"

# Other audio.
sox -R -n -r 8000 -c 1 -b 16 "$out/tone.wav" synth 0.9 sine 300 2>/dev/null
# 5102 samples: a RIFF length of 36 + 10204 = 10240 bytes, a multiple of 512.
sox -R -n -r 8000 -c 1 -b 16 "$out/aligned.wav" synth 0.63775 sine 350 2>/dev/null
media aligned-wav "$out/aligned.wav"
sox -R -n -r 8000 -c 1 -b 16 "$out/tone.aiff" synth 0.9 sine 320 2>/dev/null
ff $audio -c:a libvorbis -f ogg "$out/tone.ogg"
ff $audio -c:a wmav2 -f asf "$out/tone.wma"
media ape "$out/song.ape"

# Other video.
ff $video $audio -c:v flv1 -c:a libmp3lame -ar 22050 -f flv "$out/clip.flv"
ff $video $audio -c:v wmv2 -c:a wmav2 -f asf "$out/clip.wmv"
ff -f lavfi -i testsrc=size=96x64:rate=25:duration=0.6 $audio -c:v mpeg1video -c:a mp2 -f mpeg "$out/clip.mpg"
ff -f lavfi -i testsrc=size=96x64:rate=25:duration=0.6 $audio -c:v mpeg2video -c:a mp2 -f vob "$out/clip.vob"
ff $video $audio -c:v mpeg2video -c:a mp2 -f mpegts "$out/clip.ts"
ff $video $audio -c:v mpeg2video -c:a mp2 -f mpegts -mpegts_m2ts_mode 1 "$out/clip.m2ts"
ff $video $audio -c:v mpeg4 -c:a libvorbis -f matroska "$out/clip.mkv"
ff -f lavfi -i testsrc=size=176x144:rate=25:duration=0.2 -f lavfi -i sine=frequency=440:duration=0.2:sample_rate=48000 \
  -c:v mpeg2video -c:a pcm_s16le -f mxf "$out/clip.mxf"
ff -f lavfi -i sine=frequency=440:duration=0.6:sample_rate=48000 -c:a ac3 -f rm "$out/tone.rm"
ff -f lavfi -i testsrc=size=176x144:rate=10:duration=0.6 -c:v rv10 -f rm "$out/video.rm"
media mlv "$out/clip.mlv"
