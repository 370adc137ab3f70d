#!/usr/bin/env python3
"""The document and drawing samples no Debian tool writes, built from their
published layouts.

usage:
  make_documents.py update PDF OUT   PDF with an incremental update appended:
                                     a new information dictionary, its xref
                                     section and a trailer pointing back
  make_documents.py dos-eps EPS TIFF OUT
                                     binary (DOS) EPS: the 30-byte header, the
                                     PostScript, then a TIFF preview
  make_documents.py ai-ps OUT        Illustrator's own PostScript form
  make_documents.py fh11 OUT         FreeHand 11 document head and body
"""
import re
import struct
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


def dos_eps(eps, tiff, out):
    ps = open(eps, "rb").read()
    preview = open(tiff, "rb").read()
    ps_at = 30
    tiff_at = ps_at + len(ps)
    head = b"\xc5\xd0\xd3\xc6" + struct.pack("<6I", ps_at, len(ps), 0, 0, tiff_at, len(preview))
    open(out, "wb").write(head + b"\xff\xff" + ps + preview)


def ai_ps(out):
    # The header comments Illustrator writes, the drawing in its own
    # operators as plain PostScript, and the trailer.
    lines = [
        "%!PS-Adobe-3.0",
        "%%Creator: Adobe Illustrator(R) 16.0",
        "%%AI8_CreatorVersion: 16.0.0",
        "%%For: (Ivy Drawer) ()",
        "%%Title: (poster.ai)",
        "%%CreationDate: 4/5/2013 6:07 AM",
        "%%BoundingBox: 0 0 612 792",
        "%%DocumentProcessColors: Black",
        "%%EndComments",
        "%%BeginProlog",
        "/m {moveto} bind def /l {lineto} bind def /f {fill} bind def",
        "%%EndProlog",
        "%%BeginSetup",
        "%%EndSetup",
        "%%Page: 1 1",
    ]
    for k in range(60):
        x, y = 40 + (k * 37) % 500, 60 + (k * 53) % 650
        lines.append("newpath %d %d m %d %d l %d %d l closepath %.2f setgray f"
                     % (x, y, x + 30, y + 45, x + 60, y, (k % 10) / 10.0))
    lines += ["showpage", "%%PageTrailer", "%%Trailer", "%%EOF"]
    open(out, "wb").write(("\n".join(lines) + "\n").encode())


def fh11(out):
    head = bytes([0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x01, 0x14, 0x00, 0x02,
                  0x00, 0x14, 0x1C, 0x01])
    head += b"FreeHand MX\x00\x00\x00\x00\x00\x00\x00" + b"11"
    assert head[34:36] == b"11"
    body = bytearray()
    seed = 11
    while len(body) < 5000:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        body += struct.pack(">I", seed | 0x01010101)
    # Records of drawing data end the document: no zero bytes at its end.
    open(out, "wb").write(head + bytes(body) + b"\x1c\x01\xff\xff")


def main(argv):
    if len(argv) == 4 and argv[1] == "update":
        update(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "dos-eps":
        dos_eps(argv[2], argv[3], argv[4])
    elif len(argv) == 3 and argv[1] == "ai-ps":
        ai_ps(argv[2])
    elif len(argv) == 3 and argv[1] == "fh11":
        fh11(argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
