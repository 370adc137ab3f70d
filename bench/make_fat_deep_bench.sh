#!/bin/sh
# A 2 GiB disk image without a partition table for the FAT family's deep-scan
# benchmark: a 1 GiB FAT32 volume of 4,000 files (some deleted) at sector
# 2048 and a 900 MiB exFAT volume of 4,000 files (some deleted, folders
# contiguous without FAT chains, written by make_exfat_volume.py) behind it
# at 1040 MiB. Then, for example:
#   build/dev/bin/fat_deep_scan DIR/disk.img 5
#   build/dev/bin/scan_driver --deep --only 32,33 --rounds 3 DIR/disk.img
# usage: make_fat_deep_bench.sh DIR
set -eu
dir=${1:?usage: make_fat_deep_bench.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
python3 "$here/../tests/engine/FAT/make_fat32_volume.py" "$dir/vol.img" 1G 4000 >/dev/null
rm -f "$dir/disk.img"
truncate -s 2G "$dir/disk.img"
dd if="$dir/vol.img" of="$dir/disk.img" bs=1M seek=1 conv=notrunc,sparse status=none
python3 "$here/../tests/engine/ExFat/make_exfat_volume.py" "$dir/ex.img" 900M 4000 >/dev/null
dd if="$dir/ex.img" of="$dir/disk.img" bs=1M seek=1040 conv=notrunc,sparse status=none
rm -f "$dir/ex.img" "$dir/vol.img"
