#!/bin/bash
# Writes the seeds of fuzz/fuzz_fat_boot_dir: the first sectors and a few
# directory sectors of small FAT12/16/32 volumes made by mkfs.fat and mtools.
#   tests/engine/FAT/make_fuzz_seeds.sh fuzz/corpus/fuzz_fat_boot_dir
set -euo pipefail
OUT=${1:?corpus folder}
mkdir -p "$OUT"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
export MTOOLS_SKIP_CHECK=1 TZ=UTC
printf 'hello\n' > "$W/a.txt"
populate() {
    mmd -i "$1" ::/Docs
    mcopy -i "$1" "$W/a.txt" "::/Docs/A long file name here.txt"
    mcopy -i "$1" "$W/a.txt" "::/Docs/short.txt"
    mcopy -i "$1" "$W/a.txt" "::/Docs/gone with a long name.txt"
    mdel -i "$1" "::/Docs/gone with a long name.txt"
}
truncate -s 32M "$W/f16.img"; mkfs.fat -F 16 -s 4 -i 1234ABCD -n VOL16 "$W/f16.img" >/dev/null; populate "$W/f16.img"
truncate -s 40M "$W/f32.img"; mkfs.fat -F 32 -s 1 -i 1234ABCD -n VOL32 "$W/f32.img" >/dev/null; populate "$W/f32.img"
truncate -s 1440K "$W/f12.img"; mkfs.fat -F 12 -i 1234ABCD "$W/f12.img" >/dev/null
# Boot sector, reserved sectors and the start of the first FAT.
head -c 8192 "$W/f16.img" > "$OUT/fat16_head"
head -c 4096 "$W/f32.img" > "$OUT/fat32_head"
head -c 2048 "$W/f12.img" > "$OUT/fat12_head"
# FAT16: root directory (after 4 reserved sectors and two FATs of 64 sectors).
dd if="$W/f16.img" of="$OUT/fat16_root" bs=512 skip=132 count=4 status=none
# FAT32: the first two sectors of the Docs folder, found by its "." and ".."
# entries in the data area.
python3 - "$W/f32.img" "$OUT/fat32_docs" <<'PY'
import struct, sys
img = open(sys.argv[1], 'rb').read()
res, nfat, spf = struct.unpack_from('<H', img, 14)[0], img[16], struct.unpack_from('<I', img, 36)[0]
data = (res + nfat * spf) * 512
for off in range(data, len(img), 512):
    if img[off:off + 11] == b'.          ' and img[off + 32:off + 43] == b'..         ':
        open(sys.argv[2], 'wb').write(img[off:off + 1024])
        break
PY
ls -l "$OUT"
