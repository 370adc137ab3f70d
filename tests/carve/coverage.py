#!/usr/bin/env python3
"""What the every-type carve image covers: the registry rows whose analyser
is not built yet (a null factory in AnalyserTable.cpp), and the type names
no carve sample stands for. The carve_* tests lay every sample of
samples.json out in one image per layout, so a type with a sample here is
carved in the clean, dirty, straddle, crowd and 4k layouts.

usage: tests/carve/coverage.py"""
import json
import os
import re

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
# Names the search never gives a file (no analyser produces them).
NAMES_ONLY = {"Raw", "DLL", "EXE", "NRW", "AAC", "MDC", "PTX", "EMLX", "IBA"}


def main():
    table = open(os.path.join(ROOT, "engine/RAWSearch/Analysers/AnalyserTable.cpp")).read()
    rows = re.findall(r'\{(M|MM|L), (.*?), "([^"]+)", (nullptr|&\w+)\}', table)
    missing = sorted({cls for _, _, cls, factory in rows if factory == "nullptr"})
    built = sorted({cls for _, _, cls, factory in rows if factory != "nullptr"})
    names_src = open(os.path.join(ROOT, "engine/RAWSearch/RawFileTypes.cpp")).read()
    block = names_src[names_src.index("{") + 1:names_src.index("}")]
    names = re.findall(r'"([^"]*)"', block)
    samples = json.load(open(os.path.join(HERE, "samples", "samples.json")))["samples"]
    counts = {}
    for s in samples:
        counts[s["type"]] = counts.get(s["type"], 0) + 1
    print("registry rows: %d, analyser classes built: %d, not built: %d" % (len(rows), len(built), len(missing)))
    for cls in missing:
        print("  not built: %s" % cls)
    print("samples: %d of %d types (%d names are never given)" %
          (len(counts), len(names) - len(NAMES_ONLY), len(NAMES_ONLY)))
    print("  " + " ".join("%s:%d" % (t, counts[t]) for t in sorted(counts)))
    print("types without a sample: " + " ".join(t for t in names if t not in counts and t not in NAMES_ONLY))


if __name__ == "__main__":
    main()
