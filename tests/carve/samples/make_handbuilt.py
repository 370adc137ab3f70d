#!/usr/bin/env python3
"""Builds the samples no Debian tool writes, from the formats' published
layouts, and reshapes JPEGs made by cjpeg where a test needs a particular
layout of segments.

usage:
  make_handbuilt.py strip-app0 IN.jpg OUT.jpg   drop the APPn/COM segments after SOI
  make_handbuilt.py pad-jpeg IN.jpg OUT.jpg R   add a comment so the size is R mod 4096
  make_handbuilt.py crowd-jpeg IN.jpg OUT.jpg   hide 40 JPEG-like sector starts in a comment
  make_handbuilt.py headers OUTDIR              CHM, EMF, HLP, MNY, early Word, CPT, BMP v5
  make_handbuilt.py sizers OUTDIR TEXT          gzip (Python), MIDI, Jet, LHA, HTML
"""
import gzip
import io
import os
import random
import struct
import sys


def segments(data):
    """(offset, code, length) of the marker segments before the first scan."""
    assert data[:2] == b"\xff\xd8"
    out, pos = [], 2
    while pos < len(data):
        assert data[pos] == 0xFF
        code = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        out.append((pos, code, length))
        if code == 0xDA:
            break
        pos += 2 + length
    return out


def strip_app0(src, dst):
    data = open(src, "rb").read()
    keep = bytearray(b"\xff\xd8")
    segs = segments(data)
    for off, code, length in segs:
        if 0xE0 <= code <= 0xEF or code == 0xFE:
            continue
        if code == 0xDA:
            keep += data[off:]
            break
        keep += data[off:off + 2 + length]
    assert keep[2:4] == b"\xff\xdb", keep[:4].hex()
    open(dst, "wb").write(keep)


def comment(payload):
    assert len(payload) <= 65533
    return b"\xff\xfe" + struct.pack(">H", len(payload) + 2) + payload


def after_app0(data):
    segs = segments(data)
    off, code, length = segs[0]
    return off + 2 + length if code == 0xE0 else 2


def pad_jpeg(src, dst, residue):
    data = open(src, "rb").read()
    at = after_app0(data)
    need = (residue - len(data)) % 4096
    while need < 4:
        need += 4096
    payload = (b"padding for a sector-aligned end " * 200)[:need - 4]
    out = data[:at] + comment(payload) + data[at:]
    assert len(out) % 4096 == residue
    open(dst, "wb").write(out)


def crowd_jpeg(src, dst):
    """40 sector starts that look like EXIF JPEGs (FF D8 FF E1, "Exif") sit
    512 bytes apart inside one comment. Each one's APP1 length sends a
    structure walk to a zero byte after the last of them, so every one of
    them stays open until all 40 have begun, and then ends as no picture."""
    data = open(src, "rb").read()
    at = after_app0(data)
    count, first = 40, 512
    landing = first + count * 512 + 64
    end = landing + count + 512
    payload = bytearray(end - (at + 4))
    for i in range(count):
        d = first + 512 * i
        length = landing + i - d - 4
        decoy = b"\xff\xd8\xff\xe1" + struct.pack(">H", length) + b"Exif\0\0"
        p = d - (at + 4)
        payload[p:p + len(decoy)] = decoy
    out = data[:at] + comment(bytes(payload)) + data[at:]
    for i in range(count):
        assert out[first + 512 * i:first + 512 * i + 4] == b"\xff\xd8\xff\xe1"
        assert out[landing + i] == 0
    open(dst, "wb").write(out)


def noise(n, seed):
    rnd = random.Random(seed)
    return bytes(rnd.randrange(1, 256) for _ in range(n))


def write(outdir, name, data):
    with open(os.path.join(outdir, name), "wb") as f:
        f.write(data)


def chm(size):
    h = bytearray(b"ITSF")
    h += struct.pack("<IIIII", 3, 0x60, 1, 0x12345678, 0x409)
    h += bytes([0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC])
    h += bytes([0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC])
    h += struct.pack("<QQQQQ", 0x60, 0x18, 0x78, size - 0x78, 0x78)  # section table, content offset
    assert len(h) == 0x60
    h += struct.pack("<IIQII", 0x1FE, 0, size, 0, 0)  # header section 0
    return bytes(h) + noise(size - len(h), 11)


def emf(records):
    body = b""
    for i in range(records):  # EMR_SETPIXELV: x, y, colour
        body += struct.pack("<IIiiI", 15, 20, i, i * 2, 0x00FF8040)
    eof = struct.pack("<IIIII", 14, 20, 0, 16, 20)
    size = 108 + len(body) + len(eof)
    head = struct.pack("<II", 1, 108) + struct.pack("<iiii", 0, 0, 99, 99) + struct.pack("<iiii", 0, 0, 2645, 2645)
    head += b" EMF" + struct.pack("<IIIHH", 0x10000, size, records + 2, 1, 0)
    head += struct.pack("<III", 0, 0, 0) + struct.pack("<ii", 1920, 1080) + struct.pack("<ii", 508, 285)
    head += struct.pack("<III", 0, 0, 0) + struct.pack("<ii", 508000, 285000)
    assert len(head) == 108, len(head)
    return head + body + eof


def hlp(size):
    head = struct.pack("<IIiI", 0x00035F3F, 0x200, -1, size)
    return head + noise(size - len(head), 13)


def mny():
    # Jet pages behind the Money engine's header page: a page kind (1 to 9)
    # and 01 start each page.
    pages = [b"\x00\x01\x00\x00MSISAM Database\x00".ljust(4096, b"\x22")]
    for kind in (1, 2, 4, 3, 1, 1, 5, 1, 1, 2):
        p = bytearray(noise(4096, 20 + kind))
        p[0], p[1] = kind, 1
        pages.append(bytes(p))
    return b"".join(pages)


def lowdoc():
    data = bytearray(noise(2048, 17))
    data[0:4] = b"\xdb\xa5\x2d\x00"
    struct.pack_into("<I", data, 292, 1800)
    struct.pack_into("<H", data, 296, 100)
    return bytes(data)


def cpt():
    size = 3500
    data = bytearray(noise(size, 19))
    data[0:8] = b"CPT9FILE"
    struct.pack_into("<I", data, 40, 3)      # entries
    struct.pack_into("<I", data, 52, 316)    # table
    for i in range(3):
        struct.pack_into("<II", data, 316 + 8 * i, 600 + 20 * i, 0)
    record = 640                             # the last entry's record
    struct.pack_into("<I", data, record + 32, 0)
    struct.pack_into("<II", data, record + 60, 1200, 7)
    struct.pack_into("<II", data, 1192, 3000, 500)
    return bytes(data)


def bmp_v5(w, h):
    row = (w * 3 + 3) // 4 * 4
    pixels = b"".join(bytes(b for x in range(w) for b in (x * 7 % 256, y * 5 % 256, (x + y) % 256)) +
                      b"\0" * (row - w * 3) for y in range(h))
    info = struct.pack("<IiiHHIIiiII", 124, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    info += struct.pack("<IIII", 0, 0, 0, 0) + b"BGRs" + bytes(36) + struct.pack("<III", 0, 0, 0)
    info += struct.pack("<IIII", 4, 0, 0, 0)
    assert len(info) == 124
    size = 14 + len(info) + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, 14 + 124) + info + pixels


def headers(outdir):
    write(outdir, "help.chm", chm(3000))
    write(outdir, "drawing.emf", emf(40))
    write(outdir, "winhelp.hlp", hlp(5000))
    write(outdir, "money.mny", mny())
    write(outdir, "word2.doc", lowdoc())
    write(outdir, "paint.cpt", cpt())
    write(outdir, "v5.bmp", bmp_v5(37, 21))


def midi():
    def track(events):
        return b"MTrk" + struct.pack(">I", len(events)) + events
    notes = b"".join(b"\x00\x90" + bytes([60 + i, 100]) + b"\x60\x80" + bytes([60 + i, 0]) for i in range(12))
    t1 = track(b"\x00\xff\x51\x03\x07\xa1\x20\x00\xff\x2f\x00")
    t2 = track(notes + b"\x00\xff\x2f\x00")
    return b"MThd" + struct.pack(">IHHH", 6, 1, 2, 96) + t1 + t2


def jet():
    pages = [b"\x00\x01\x00\x00Standard Jet DB\x00".ljust(4096, b"\x11")]
    for kind in (1, 2, 4, 3, 1, 1):
        p = bytearray(noise(4096, kind))
        p[0], p[1] = kind, 1
        pages.append(bytes(p))
    return b"".join(pages)


def lzh(text):
    out = b""
    for i, name in enumerate((b"first.txt", b"second.txt")):
        body = text[i * 200:(i + 1) * 200 + 57 * i]
        fields = b"-lh0-" + struct.pack("<II", len(body), len(body)) + struct.pack("<I", 0x5A000000) + b"\x20\x00"
        fields += bytes([len(name)]) + name + struct.pack("<H", sum(body) & 0xFFFF)
        size = len(fields)
        header = bytes([size, sum(fields) & 0xFF]) + fields
        out += header + body
    return out + b"\x00"


def html(text):
    rows = "".join("<p>line %d of the carved page</p>\n" % i for i in range(200))
    return ("<!DOCTYPE html>\n<html><head><title>carve</title></head><body>\n%s</body></html>\n" % rows).encode()


def sizers(outdir, textfile):
    text = open(textfile, "rb").read()
    buf = io.BytesIO()
    with gzip.GzipFile(fileobj=buf, mode="wb", mtime=1500000000, filename="") as g:
        g.write(text)
    write(outdir, "python.gz", buf.getvalue())
    buf = io.BytesIO()
    with gzip.GzipFile(fileobj=buf, mode="wb", mtime=1500000000, filename="notes.txt") as g:
        g.write(text)
    write(outdir, "named.gz", buf.getvalue())
    write(outdir, "song.mid", midi())
    write(outdir, "database.mdb", jet())
    write(outdir, "archive.lzh", lzh(text))
    write(outdir, "page.html", html(text))


def main(argv):
    cmd = argv[1]
    if cmd == "strip-app0":
        strip_app0(argv[2], argv[3])
    elif cmd == "pad-jpeg":
        pad_jpeg(argv[2], argv[3], int(argv[4]))
    elif cmd == "crowd-jpeg":
        crowd_jpeg(argv[2], argv[3])
    elif cmd == "headers":
        headers(argv[2])
    elif cmd == "sizers":
        sizers(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
