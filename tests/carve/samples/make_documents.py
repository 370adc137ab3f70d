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
  make_documents.py xml OUTDIR       an Evernote export (notes.enex), a
                                     citation style (style.csl) and the
                                     binary SVG form (binary.svg)
  make_documents.py x3f OUT          Sigma X3F: header, sections, directory
  make_documents.py mrw OUT          Minolta MRW: PRD, WBG, RIF and TTW
                                     blocks, then packed 12-bit raw data
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


def xml(outdir):
    import os
    enex = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<!DOCTYPE en-export SYSTEM "http://xml.evernote.com/pub/evernote-export3.dtd">\n'
            '<en-export export-date="20150601T102030Z" application="Evernote" version="10.0">\n')
    for k in range(12):
        enex += ('<note><title>Carved note %d</title><content><![CDATA[<?xml version="1.0" '
                 'encoding="UTF-8"?><en-note><div>Line %d of a note kept on a disk.</div>'
                 '</en-note>]]></content><created>20150601T1020%02dZ</created></note>\n' % (k, k, k))
    enex += "</en-export>\n"
    open(os.path.join(outdir, "notes.enex"), "w").write(enex)
    csl = ('<?xml version="1.0" encoding="utf-8"?>\n'
           '<style xmlns="http://purl.org/net/xbiblio/csl" class="in-text" version="1.0">\n'
           '  <info>\n    <title>Carved Author-Date</title>\n'
           '    <id>http://www.zotero.org/styles/carved-author-date</id>\n'
           '    <updated>2015-06-01T10:20:30+00:00</updated>\n  </info>\n'
           '  <citation>\n    <layout prefix="(" suffix=")" delimiter="; ">\n'
           '      <names variable="author"><name form="short"/></names>\n'
           '      <date variable="issued" prefix=" "><date-part name="year"/></date>\n'
           '    </layout>\n  </citation>\n'
           '  <bibliography>\n    <layout>\n'
           '      <names variable="author"><name/></names>\n'
           '      <text variable="title" prefix=". "/>\n'
           '    </layout>\n  </bibliography>\n</style>\n')
    open(os.path.join(outdir, "style.csl"), "w").write(csl)
    # The binary form: its length after the fixed 1,152 bytes at byte 1,100.
    body = bytearray(b"\xcd\x01\x00\x00")
    seed = 7
    while len(body) < 3000:
        seed = (seed * 69069 + 1) & 0xFFFFFFFF
        body.append((seed >> 24) | 1)
    body[1100:1104] = struct.pack("<I", len(body) - 1152)
    open(os.path.join(outdir, "binary.svg"), "wb").write(bytes(body))


def x3f(out):
    # Header (version 2.1), then a property list, the image and the
    # camera data sections, then the directory that lists them and, last,
    # the directory's offset.
    head = b"FOVb" + struct.pack("<I", 0x00020001) + bytes(range(16)) + struct.pack(
        "<IIII", 0, 64, 48, 0) + b"Auto".ljust(32, b"\0") + bytes(32) + bytes(128)
    sections = []
    # Properties: name and value offsets (in characters), then the strings.
    strings = ["CAMMANUF", "SIGMA", "CAMMODEL", "SD14"]
    offsets, text = [], ""
    for t in strings:
        offsets.append(len(text))
        text += t + "\0"
    prop = b"SECp" + struct.pack("<IIIII", 0x00020000, 2, 0, 0, len(text))
    prop += struct.pack("<4I", *offsets) + text.encode("utf-16-le")
    image = b"SECi" + struct.pack("<IIIIII", 0x00020000, 2, 30, 64, 48, 64 * 3)
    seed = 3
    pixels = bytearray()
    while len(pixels) < 64 * 48 * 3:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        pixels.append((seed >> 16) & 0xFF | 1)
    image += bytes(pixels)
    camf = b"SECc" + struct.pack("<II", 0x00020000, 2) + bytes(range(1, 200))
    data = bytearray(head)
    for kind, sec in ((b"PROP", prop), (b"IMA2", image), (b"CAMF", camf)):
        while len(data) % 4:
            data.append(0)
        sections.append((len(data), len(sec), kind))
        data += sec
    while len(data) % 4:
        data.append(0)
    directory_at = len(data)
    data += b"SECd" + struct.pack("<II", 0x00020000, len(sections))
    for at, length, kind in sections:
        data += struct.pack("<II", at, length) + kind
    data += struct.pack("<I", directory_at)
    open(out, "wb").write(bytes(data))


def mrw(out):
    def block(tag, body):
        return b"\0" + tag + struct.pack(">I", len(body)) + body
    height, width = 48, 64
    prd = b"21860002" + struct.pack(">HHHHBBBBH", height, width, height, width, 12, 12, 0x59, 0, 0x0001)
    prd += bytes(2)
    wbg = bytes([0, 0, 0, 0]) + struct.pack(">HHHH", 0x0100, 0x0100, 0x0100, 0x0100)
    rif = bytes(2) + struct.pack(">H", 100) + bytes(20)
    # A small TIFF with the camera's make and model, as the camera writes.
    make, model = b"MINOLTA\0", b"DiMAGE A1\0\0"
    entries = [(0x010F, 2, len(make), 8 + 2 + 3 * 12 + 4), (0x0110, 2, len(model), 8 + 2 + 3 * 12 + 4 + len(make)),
               (0x0112, 3, 1, 1)]
    ttw = b"MM\0\x2a" + struct.pack(">I", 8) + struct.pack(">H", len(entries))
    for tag, kind, count, value in entries:
        if kind == 3:
            ttw += struct.pack(">HHIHH", tag, kind, count, value, 0)
        else:
            ttw += struct.pack(">HHII", tag, kind, count, value)
    ttw += struct.pack(">I", 0) + make + model
    blocks = block(b"PRD", prd) + block(b"WBG", wbg) + block(b"RIF", rif) + block(b"TTW", ttw)
    head = b"\0MRM" + struct.pack(">I", len(blocks)) + blocks
    raw = bytearray()
    seed = 5
    while len(raw) < height * width * 12 // 8:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        raw.append((seed >> 16) & 0xFF)
    raw[-1] |= 1
    open(out, "wb").write(head + bytes(raw))


def main(argv):
    if len(argv) == 4 and argv[1] == "update":
        update(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "dos-eps":
        dos_eps(argv[2], argv[3], argv[4])
    elif len(argv) == 3 and argv[1] == "ai-ps":
        ai_ps(argv[2])
    elif len(argv) == 3 and argv[1] == "fh11":
        fh11(argv[2])
    elif len(argv) == 3 and argv[1] == "xml":
        xml(argv[2])
    elif len(argv) == 3 and argv[1] == "x3f":
        x3f(argv[2])
    elif len(argv) == 3 and argv[1] == "mrw":
        mrw(argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
