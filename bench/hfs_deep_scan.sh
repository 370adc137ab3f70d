#!/bin/sh
# The HFS+ deep search alone over a 2 GiB disk holding an HFS+ volume with a
# few thousand files at sector 40, against a plain read of the same image in
# the same run (bench/hfs_deep_scan.cpp), with the peak resident set.
#   bench/hfs_deep_scan.sh [BUILD_DIR] [FILES]    (default build/dev, 5000)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/dev}
files=${2:-5000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/tests/fixtures/hfsplus/mkhfsplus_many.py" "$work/disk.img" --files "$files" \
    --size-mib 2047 --offset-sectors 40
"$build/bin/hfs_deep_scan" "$work/disk.img" 5 | grep -v '^CDirectoryTree'
