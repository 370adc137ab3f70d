#!/usr/bin/env python3
"""DXF drawings written by ezdxf (python3-ezdxf), with its run-dependent
header values fixed so every run gives the same bytes.

usage: make_dxf.py OUTDIR
  plan.dxf    line feeds, opened by a "999" comment line
  site.dxf    carriage return and line feed, as AutoCAD writes on Windows
"""
import os
import sys

import ezdxf


def drawing(lines):
    doc = ezdxf.new("R2000")
    msp = doc.modelspace()
    for k in range(lines):
        msp.add_line((k, 0), (k + 10, 5 + k % 7))
    msp.add_circle((5, 5), 3)
    msp.add_text("Carved drawing").set_placement((1, 1))
    return doc


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    out = argv[1]
    ezdxf.options.write_fixed_meta_data_for_testing = True
    doc = drawing(20)
    doc.saveas(os.path.join(out, "plan.tmp"))
    text = open(os.path.join(out, "plan.tmp"), "rb").read()
    os.remove(os.path.join(out, "plan.tmp"))
    open(os.path.join(out, "plan.dxf"), "wb").write(b"999\nVelmora carve sample\n" + text)
    doc = drawing(60)
    doc.saveas(os.path.join(out, "site.tmp"))
    text = open(os.path.join(out, "site.tmp"), "rb").read()
    os.remove(os.path.join(out, "site.tmp"))
    open(os.path.join(out, "site.dxf"), "wb").write(text.replace(b"\n", b"\r\n"))


if __name__ == "__main__":
    main(sys.argv)
