#!/usr/bin/env bash
# Quick scan of one FAT fixture image with the scan driver's listing, then
# the listing against Sleuth Kit.
#   check_listing.sh SCAN_DRIVER IMAGE WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
driver=$1 image=$2 work=$3
[ -f "$image" ] || { echo "no image $image (the \"fixtures\" test makes it)"; exit 77; }
command -v fls >/dev/null || { echo "Sleuth Kit is missing"; exit 77; }
# The fixture's file system type and sector size from its manifest name.
case "$(basename "$image")" in
    fat16*) fs=1 ;;
    *) fs=2 ;;
esac
case "$(basename "$image")" in
    *_4k*) size=4096 ;;
    *) size=512 ;;
esac
rm -rf "$work"
mkdir -p "$work"
"$driver" --quick --fs-type "$fs" --sector-size "$size" --rounds 1 --list "$work/listing.tsv" \
    "$image" >"$work/driver.log"
python3 "$here/compare_fls.py" "$image" "$work/listing.tsv" --sector-size "$size"
