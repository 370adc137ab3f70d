#!/bin/sh
# The scan driver's --save and --load: a scan of IMAGE saved, then loaded
# over the same image, must list the same trees and recover the same files.
# usage: driver_round_trip.sh SCAN_DRIVER IMAGE WORKDIR SCAN-OPTIONS...
# Exit 77 when the image was not made.
set -eu
driver=$1 image=$2 work=$3
shift 3
[ -f "$image" ] || { echo "SKIP: $image was not made (the fixtures test)"; exit 77; }
rm -rf "$work"
mkdir -p "$work/scanned" "$work/loaded"
export TZ=UTC VELMORA_WORK_PATH="$work"
"$driver" "$@" --rounds 1 --list "$work/scanned.txt" --recover "$work/scanned" \
    --save "$work/result.Velmora" "$image" > "$work/scan.log" 2>&1 || { cat "$work/scan.log"; exit 1; }
"$driver" "$@" --list "$work/loaded.txt" --recover "$work/loaded" \
    --load "$work/result.Velmora" "$image" > "$work/load.log" 2>&1 || { cat "$work/load.log"; exit 1; }
grep -q "^load result 0" "$work/load.log"
[ -s "$work/scanned.txt" ]
diff "$work/scanned.txt" "$work/loaded.txt"
diff -r "$work/scanned" "$work/loaded"
echo "same trees ($(wc -l < "$work/loaded.txt") nodes) and the same recovered files"
