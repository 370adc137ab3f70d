#!/usr/bin/env python3
"""The document and drawing samples no Debian tool writes, built from their
published layouts.

usage:
  make_documents.py update PDF OUT   PDF with an incremental update appended:
                                     a new information dictionary, its xref
                                     section and a trailer pointing back
"""
import re
import sys


def update(src, out):
    data = open(src, "rb").read()
    startxref = int(re.findall(rb"startxref\s+(\d+)", data)[-1])
    size = int(re.findall(rb"/Size\s+(\d+)", data)[-1])
    root = re.findall(rb"/Root\s+(\d+ \d+ R)", data)[-1]
    info_obj = size
    body = (b"%d 0 obj\n<</Title(Revised Report)/Author(Jane Writer)/Creator(Velmora Tests)"
            b"/ModDate(D:20170102030405Z)>>\nendobj\n" % info_obj)
    at = len(data) + 1
    xref_at = at + len(body)
    xref = b"xref\n0 1\n0000000000 65535 f \n%d 1\n%010d 00000 n \n" % (info_obj, at)
    trailer = (b"trailer\n<</Size %d/Root %s/Info %d 0 R/Prev %d>>\nstartxref\n%d\n%%%%EOF\n"
               % (size + 1, root, info_obj, startxref, xref_at))
    open(out, "wb").write(data + b"\n" + body + xref + trailer)


def main(argv):
    if len(argv) == 4 and argv[1] == "update":
        update(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
