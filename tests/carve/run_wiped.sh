#!/usr/bin/env bash
# A FAT32 volume of real files whose file system is then wiped: every file
# stored in one piece must come back whole through the signature search.
#   run_wiped.sh SIZE_MIB CARVE_SCAN WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size=$1 scan=$2 work=$3/wiped-$1
command -v python3 >/dev/null || { echo "python3 is needed" >&2; exit 77; }
rm -rf "$work"
mkdir -p "$work/recovered"
trap 'rm -rf "$work"' EXIT
status=0
python3 "$here/make_volume.py" "$work" --size-mib "$size" || status=$?
[ "$status" -eq 0 ] || exit "$status"
"$scan" "$work/volume.img" --sector-size 512 --recover "$work/recovered" --list "$work/listing.tsv" >"$work/scan.log"
python3 "$here/check.py" "$work/volume.json" "$work/listing.tsv"
