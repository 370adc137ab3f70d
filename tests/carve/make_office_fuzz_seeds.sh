#!/usr/bin/env bash
# Seeds of the OLE and ZIP fuzz targets, from the carve samples
# (samples/make_office.sh): small files as they would lie on a disk, the
# first byte picking 512-byte sectors and blocks of 8 sectors.
#   tests/carve/make_office_fuzz_seeds.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
python3 - "$here/samples" "$root/fuzz/corpus" <<'PY'
import os, sys
samples, corpus = sys.argv[1:3]
seeds = {"fuzz_ole_walker": ["deck.ppt", "plan.vsd", "summary.xls", "setup.msi", "prices.xls"],
         "fuzz_zip_sizer": ["plain.zip", "comment.zip", "piped.zip", "zip64.zip", "slides.pptx",
                            "text.odt", "archive.olm"]}
for target, names in seeds.items():
    os.makedirs(os.path.join(corpus, target), exist_ok=True)
    for name in names:
        data = open(os.path.join(samples, name), "rb").read()
        with open(os.path.join(corpus, target, name), "wb") as f:
            f.write(bytes([14]) + data + bytes(-len(data) % 512))
PY
