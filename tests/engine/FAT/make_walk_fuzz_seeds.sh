#!/bin/bash
# Writes the seeds of fuzz/fuzz_fat_walk: the start of small FAT16 and FAT32
# volumes made by mkfs.fat and mtools, cut after their first folders and
# files (the fuzz target pads them back to a volume).
#   tests/engine/FAT/make_walk_fuzz_seeds.sh fuzz/corpus/fuzz_fat_walk
set -euo pipefail
OUT=${1:?corpus folder}
mkdir -p "$OUT"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
export MTOOLS_SKIP_CHECK=1 TZ=UTC
printf '\377\330\377\340 not really a picture\n' > "$W/a.jpg"
printf 'hello\n' > "$W/a.txt"
populate() {
    mmd -i "$1" ::/Docs ::/Gone
    mcopy -i "$1" "$W/a.jpg" "::/Docs/A long file name here.jpg"
    mcopy -i "$1" "$W/a.txt" "::/Docs/short.txt"
    mcopy -i "$1" "$W/a.txt" "::/Gone/gone with a long name.txt"
    mcopy -i "$1" "$W/a.jpg" "::/deleted picture.jpg"
    mdel -i "$1" "::/deleted picture.jpg"
    mdeltree -i "$1" ::/Gone
}
truncate -s 4M "$W/f16.img"; mkfs.fat -F 16 -s 1 -i 1234ABCD "$W/f16.img" >/dev/null; populate "$W/f16.img"
truncate -s 34M "$W/f32.img"; mkfs.fat -F 32 -s 1 -i 1234ABCD "$W/f32.img" >/dev/null; populate "$W/f32.img"
head -c 65536 "$W/f16.img" > "$OUT/fat16_volume"
python3 - "$W/f32.img" "$OUT/fat32_volume" <<'PY'
import struct, sys
img = open(sys.argv[1], 'rb').read()
res, nfat, spf = struct.unpack_from('<H', img, 14)[0], img[16], struct.unpack_from('<I', img, 36)[0]
data = (res + nfat * spf) * 512
open(sys.argv[2], 'wb').write(img[:data + 16 * 512])
PY
ls -l "$OUT"
