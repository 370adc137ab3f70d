#!/usr/bin/env bash
# One carve check: lays the samples out in LAYOUT, scans the image with
# carve_scan and compares what comes back with the manifest.
#   run_carve.sh LAYOUT CARVE_SCAN WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
layout=$1 scan=$2 work=$3/$1
command -v python3 >/dev/null || { echo "python3 is needed" >&2; exit 77; }
rm -rf "$work"
mkdir -p "$work/recovered"
python3 "$here/mkimage.py" --samples "$here/samples" --layout "$layout" --out "$work"
sector=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["sector_size"])' "$work/$layout.json")
"$scan" "$work/$layout.img" --sector-size "$sector" --recover "$work/recovered" --list "$work/listing.tsv" >"$work/scan.log"
python3 "$here/check.py" "$work/$layout.json" "$work/listing.tsv"
rm -rf "$work"
