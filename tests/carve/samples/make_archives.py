#!/usr/bin/env python3
"""Builds the carve samples of archives, text, mail, e-book and key-store
formats that no Debian tool writes, from their published layouts (RAR 4,
StuffIt, UDIF trailers, Password Safe 3, Palm databases, Outlook Express
folders, ...), and shapes text samples the way their writers end them.

Every sample is deterministic. Formats whose end the signature search finds
at the zero fill after them get sizes that leave at least 16 zero bytes in
their last 512- and 4096-byte sectors.

usage:
  make_archives.py archives OUTDIR   RAR, disk image, StuffIt, StuffIt X
  make_archives.py text OUTDIR       RTF, UTF-16 HTML
  make_archives.py stores OUTDIR     password safe, music score, mail folders, e-book
  make_archives.py pictures OUTDIR IN.gif   Paint Shop Pro, OneNote, InDesign, WordPerfect
                                           graphics; IN.gif with a comment and its image
                                           data in sub-blocks whose last is 59 bytes long
  make_archives.py documents OUTDIR   Windows metafiles, WordPerfect, Outlook folder,
                                      media library, mailbox (Python's mailbox)
  make_archives.py mesh OUT.3ds IN.3ds IN.obj   IN.3ds (assimp) with the version chunk 3ds Max
                                      writes first; IN.obj a sphere to export
  make_archives.py fit-tail FILE     append bytes until the file ends well inside a sector
"""
import bz2
import hashlib
import os
import random
import struct
import sys
import zlib


def noise(n, seed):
    rnd = random.Random(seed)
    return bytes(rnd.randrange(1, 256) for _ in range(n))


def write(outdir, name, data):
    with open(os.path.join(outdir, name), "wb") as f:
        f.write(data)


def tail_ok(length, zeros=16):
    """True when the last 512- and 4096-byte sectors keep `zeros` zero bytes."""
    return all(0 < length % s <= s - zeros for s in (512, 4096))


def fit(data, filler, zeros=16, step=1):
    """Grows data by `step` filler bytes at a time until tail_ok."""
    data = bytearray(data)
    i = 0
    while not tail_ok(len(data), zeros):
        data += bytes(filler[(i + k) % len(filler)] for k in range(step))
        i += step
    return bytes(data)


# --- RAR 4 -------------------------------------------------------------------

def rar_block(htype, flags, body):
    head = struct.pack("<BHH", htype, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head


def rar_file(name, data, mtime=0x5A21_0000):
    body = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data), mtime, 20, 0x30, len(name),
                       0x81A4) + name
    return rar_block(0x74, 0x8000, body) + data


def rar(files):
    out = b"Rar!\x1a\x07\x00" + rar_block(0x73, 0, struct.pack("<HI", 0, 0))
    for name, data in files:
        out += rar_file(name, data)
    return out + b"\xc4\x3d\x7b\x00\x40\x07\x00"


# --- UDIF disk image whose first chunk is bzip2 ---------------------------------

def dmg(payload):
    chunk = bz2.compress(payload, 1)
    assert chunk[:10] == b"BZh11AY&SY"
    plist = (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>resource-fork</key>'
             b'<dict/></dict></plist>\n')
    koly = bytearray(512)
    struct.pack_into(">4sIII", koly, 0, b"koly", 4, 512, 1)
    struct.pack_into(">QQQ", koly, 24, 0, 0, len(chunk))  # data fork offset, length
    struct.pack_into(">QQ", koly, 216, len(chunk), len(plist))  # the property list
    struct.pack_into(">IQ", koly, 488, 1, (len(payload) + 511) // 512)  # variant, sectors
    return chunk + plist + bytes(koly)


# --- StuffIt ------------------------------------------------------------------

def sit_classic(payload):
    head = b"StuffIt (c)1997-2002 Aladdin Systems, Inc., http://www.aladdinsys.com/StuffIt/\r\n"
    head = head.ljust(80, b" ") + b"\x1a\x00\x05\x10"
    total = len(head) + 16 + len(payload)
    head += struct.pack(">IIHHI", total, 100, 1, 0, 0x1234)
    return head + payload


def sitx(payload):
    body = b"StuffIt!\x00\x01" + noise(54, 5) + payload
    return body + b"\x02\xd7\x0a\x19\x98\xf6\x42\x88" + b"\x11\x22\x33\x44"


# --- text -------------------------------------------------------------------

def flat_pkg(payload):
    """The flat installer package form: 7F "PKG", version 1 at 6, the whole
    length at 24 (64-bit big-endian)."""
    head = bytearray(32)
    head[0:4] = b"\x7fPKG"
    struct.pack_into(">H", head, 4, 32)
    struct.pack_into(">H", head, 6, 1)
    data = bytes(head) + payload
    struct.pack_into(">Q", head, 24, len(data))
    return bytes(head) + payload


def xar(files):
    """A xar archive as installer packages are: the 28-byte header, the
    zlib-compressed table of contents, the heap (the table's SHA-1 first,
    then each member gzip-compressed). Folders are listed after the files,
    so the entry with the highest id holds no data."""
    entries = []
    heap = bytearray(20)
    folders = {}
    ids = [0]

    def next_id():
        ids[0] += 1
        return ids[0]
    stamp = "2017-07-14T02:40:00Z"
    file_xml = []
    for name, data in files:
        packed = zlib.compress(data, 9)
        offset = len(heap)
        heap += packed
        folder, base = name.rsplit("/", 1)
        file_xml.append((folder, '<file id="%d"><name>%s</name><type>file</type><mode>0644</mode>'
                         '<mtime>%s</mtime><data><length>%d</length><offset>%d</offset><size>%d</size>'
                         '<encoding style="application/x-gzip"/>'
                         '<archived-checksum style="sha1">%s</archived-checksum>'
                         '<extracted-checksum style="sha1">%s</extracted-checksum></data></file>'
                         % (next_id(), base, stamp, len(packed), offset, len(data),
                            hashlib.sha1(packed).hexdigest(), hashlib.sha1(data).hexdigest())))
    for folder, _ in file_xml:
        folders.setdefault(folder, next_id())
    body = "".join('<file id="%d"><name>%s</name><type>directory</type><mode>0755</mode><mtime>%s</mtime>%s</file>'
                   % (fid, folder, stamp, "".join(x for f, x in file_xml if f == folder))
                   for folder, fid in folders.items())
    toc = ('<?xml version="1.0" encoding="UTF-8"?>\n<xar><toc><creation-time>2017-07-14T02:40:00</creation-time>'
           '<checksum style="sha1"><offset>0</offset><size>20</size></checksum>%s</toc></xar>\n' % body).encode()
    packed_toc = zlib.compress(toc, 9)
    heap[0:20] = hashlib.sha1(packed_toc).digest()
    head = b"xar!" + struct.pack(">HHQQI", 28, 1, len(packed_toc), len(toc), 1)
    return head + packed_toc + bytes(heap)


def ciff(body=430000, seed=21):
    """A CIFF raw picture as Canon cameras wrote them: byte order, header
    length, "HEAPCCDR", version, the image heap (noise without zero bytes),
    then the root record table whose last records hold the 0x2807 record
    (07 28 A8 00 00 00) 70 bytes before the file's end."""
    head = b"II" + struct.pack("<I", 26) + b"HEAPCCDR" + struct.pack("<HH", 2, 1) + bytes(8)
    table = b"\x07\x28\xa8\x00\x00\x00" + noise(60, seed + 1) + struct.pack("<I", 26 + body)
    n = body
    while not tail_ok(len(head) + n + len(table)):
        n += 1
    return head + noise(n, seed) + table


def aep(packet, seed):
    """An After Effects project: "RIFX", the big-endian length, "Egg!" and
    chunks; with an XMP packet after the RIFX data when `packet`."""
    chunks = b""
    for i in range(40):
        data = noise(200 + 37 * i, seed + i)
        chunks += b"LIST" + struct.pack(">I", len(data)) + data
    riff = b"RIFX" + struct.pack(">I", 4 + len(chunks)) + b"Egg!" + chunks
    if not packet:
        return riff
    xmp = (b"<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>\n<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
           + b"<rdf:RDF/>" * 30 + b"</x:xmpmeta>\n<?xpacket end='w'?>")
    data = riff + xmp
    while not tail_ok(len(data)):
        data += b" "
    return data


def ngrr(records=60, seed=31):
    """An NGRR recording: a 60-byte head beginning "-in-", then "atad"
    records of a 24-byte head (the data length at 16, little-endian) and
    their data."""
    head = b"-in-" + noise(56, seed)
    body = b""
    for i in range(records):
        data = noise(100 + 53 * i, seed + i + 1)
        body += b"atad" + noise(12, seed + 100 + i) + struct.pack("<I", len(data)) + noise(4, seed + 200 + i) + data
    return head + body


def dwg_r2000(seed=61):
    """An R2000 drawing: version, the image seeker, the code page, five
    section locator records (number, seeker, size), their CRC and sentinel,
    then the sections. The furthest section ends the file."""
    sizes = [1500, 300, 2400, 0, 5100]
    head_len = 25 + 9 * len(sizes) + 2 + 16
    records = b""
    at = head_len
    places = []
    for i, n in enumerate(sizes):
        places.append((at if n else 0, n))
        at += n
    for i, (seek, n) in enumerate(places):
        records += struct.pack("<BII", i, seek, n)
    head = (b"AC1015" + bytes(5) + b"\x00\x01" + struct.pack("<I", 0) + b"\x00\x00" + struct.pack("<H", 30)
            + struct.pack("<I", len(sizes)) + records + b"\x95\xa0"
            + bytes.fromhex("95A04E283299CCC5AA00EB86396D3AD2"))
    assert len(head) == head_len
    return head + noise(at - head_len, seed)


def r2004_coded(header):
    x = 1
    out = bytearray()
    for b in header:
        x = (x * 214013 + 2531011) & 0xFFFFFFFF
        out.append(b ^ ((x >> 16) & 0xFF))
    return bytes(out)


def dwg_r2004(seed=62, length=23000):
    """An R2004 drawing: the version, then at 0x80 the coded file header
    that names where its copy lies at the end of the file."""
    header = bytearray(108)
    header[0:12] = b"AcFssFcAJMB\x00"
    struct.pack_into("<IIIIIIII", header, 0x0C, 0, 0x6C, 4, 0x40, 0x30, 0x20, 1, 9)
    second = length - 108
    struct.pack_into("<QQ", header, 0x2C, second - 0x100, second)
    struct.pack_into("<IIIII", header, 0x3C, 0, 9, 0x20, 0x80, 0x40)
    struct.pack_into("<IQIII", header, 0x50, 8, 0x1A00, 9, 9, 0)
    coded = r2004_coded(bytes(header))
    head = b"AC1018" + bytes(5) + b"\x00\x03" + bytes(0x80 - 13)
    body = noise(second - 0x80 - 108, seed)
    return head + coded + body + coded


def dwg_r2007(seed=63, length=31000):
    """An R2007 drawing whose file header is stored uncompressed: 984 bytes
    at 0x80 holding three interleaved Reed-Solomon blocks of 239 data bytes
    (parity bytes are noise here)."""
    data = bytearray(noise(3 * 239, seed))
    struct.pack_into("<i", data, 0x18, 0)
    header = bytearray(noise(0x110, seed + 1))
    struct.pack_into("<QQ", header, 0, 0x70, length)
    data[0x20:0x20 + 0x110] = header
    inter = bytearray(noise(984, seed + 2))
    for i in range(3):
        for j in range(239):
            inter[j * 3 + i] = data[i * 239 + j]
    head = b"AC1021" + bytes(5) + b"\x00\x03" + bytes(0x80 - 13)
    return head + bytes(inter) + noise(length - 0x80 - 984, seed + 3)


def ace(pages=7, seed=71):
    """An Access 2007 database: the ACE head page, then data pages whose
    first bytes are their page kind and 01."""
    out = [b"\x00\x01\x00\x00Standard ACE DB\x00".ljust(4096, b"\x12")]
    for i, kind in enumerate((1, 2, 4, 3, 1, 1)[:pages - 1]):
        p = bytearray(noise(4096, seed + i))
        p[0], p[1] = kind, 1
        out.append(bytes(p))
    return b"".join(out)


def rtf():
    lines = [r"{\rtf1\ansi\deff0{\fonttbl{\f0\froman Times;}{\f1\fmodern Courier;}}",
             r"{\info{\title Carved letter}{\author Velmora}}", r"\f0\fs24"]
    for i in range(70):
        lines.append(r"\pard Line %d keeps literal braces \{like these\} and a backslash \\ in its text.\par" % i)
        if i % 10 == 0:
            lines.append(r"{\b bold group %d}{\i italic {\ul nested} group}\par" % i)
    # WordPad closes the document with CR LF and a zero byte.
    return ("\r\n".join(lines) + "\r\n}\r\n").encode() + b"\x00"


def wide_html():
    rows = "".join("<p>line %d of the wide page</p>\n" % i for i in range(150))
    text = "<!DOCTYPE html>\n<html><head><title>wide</title></head><body>\n%s</body></html>\n" % rows
    return b"\xff\xfe" + text.encode("utf-16-le")


# --- stores -------------------------------------------------------------------

def psafe3():
    head = b"PWS3" + noise(32, 1) + struct.pack("<I", 2048) + noise(32 + 64 + 16, 2)
    records = noise(16 * 300, 3)
    return head + records + b"PWS3-EOFPWS3-EOF" + noise(32, 4)


def sib():
    return b"\x0fSIBELIUS" + noise(5000, 6)


def dbx_folder():
    """An Outlook Express folder file: the 16-byte head, the file length at 124."""
    head = bytes([0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0])
    data = bytearray(head + noise(9000 - 16, 7))
    struct.pack_into("<I", data, 124, len(data))
    return bytes(data)


def dbx_offline():
    """The head sized by the zero fill after the file."""
    head = bytes([0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D, 0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0, 0xB0])
    return head + noise(6000, 8)


def mobi(records=70):
    """A Palm database of a MOBI book: header, record list, records, end record."""
    bodies = [noise(300 + 37 * i, 20 + i) for i in range(records - 1)] + [b"\xe9\x8e\x0d\x0a"]
    first = 78 + 8 * records + 2
    offsets, at = [], first
    for b in bodies:
        offsets.append(at)
        at += len(b)
    head = b"Carved_Book".ljust(32, b"\x00")
    head += struct.pack(">HHIIIIII", 0, 0, 0x5A000000, 0x5A000000, 0, 0, 0, 0)
    head += b"BOOKMOBI" + struct.pack(">IIH", 0, 0, records)
    assert len(head) == 78
    table = b"".join(struct.pack(">IB3s", off, 0, struct.pack(">I", i)[1:]) for i, off in enumerate(offsets))
    return head + table + b"\x00\x00" + b"".join(bodies)


# --- pictures and page layouts ------------------------------------------------

def psp():
    out = b"Paint Shop Pro Image File\n\x1a" + bytes(5) + struct.pack("<HH", 5, 0)
    for i, size in enumerate((46, 1200, 3000, 700, 150)):
        out += b"~BK\x00" + struct.pack("<HI", i, size) + noise(size, 30 + i)
    return out


ONE_GUID = bytes([0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3])


def onenote(length=9000):
    data = bytearray(ONE_GUID + noise(length - 16, 40))
    data[16:196] = noise(180, 41)
    struct.pack_into("<Q", data, 196, length)
    return bytes(data)


INDD_SIGNATURE = bytes([0x06, 0x06, 0xED, 0xF5, 0xD8, 0x1D, 0x46, 0xE5, 0xBD, 0x31, 0xEF, 0xE7, 0xFE, 0x74, 0xB7,
                        0x1D]) + b"DOCUMENT"
INDD_OBJECT = bytes([0xDE, 0x39, 0x39, 0x79, 0x51, 0x88, 0x4B, 0x6C, 0x8E, 0x63, 0xEE, 0xF8, 0xAE, 0xE0, 0xDD, 0x38])


def indesign(pages=3):
    head = bytearray(noise(pages * 4096, 50))
    head[:24] = INDD_SIGNATURE
    struct.pack_into("<I", head, 280, pages)
    out = bytes(head)
    for i, size in enumerate((1000, 5000, 333, 2100)):
        obj = bytearray(INDD_OBJECT + noise(48, 51 + i))
        struct.pack_into("<I", obj, 24, size)
        out += bytes(obj) + noise(size, 60 + i)
    return out + bytes(-len(out) % 4096)


def wpg():
    return b"wpg\x00" + noise(7000, 70)


def rechunk_gif(data, last=59):
    """The same picture with a comment extension and its image data in
    sub-blocks whose last holds `last` bytes."""
    packed = data[10]
    pos = 13 + (3 << ((packed & 7) + 1) if packed & 0x80 else 0)
    out = bytearray(data[:pos])
    out += b"\x21\xfe" + bytes([len(b"carved gif")]) + b"carved gif" + b"\x00"
    while data[pos] != 0x3B:
        if data[pos] == 0x21:
            end = pos + 2
            while data[end]:
                end += 1 + data[end]
            out += data[pos:end + 1]
            pos = end + 1
            continue
        assert data[pos] == 0x2C
        head = 10 + (3 << ((data[pos + 9] & 7) + 1) if data[pos + 9] & 0x80 else 0) + 1
        out += data[pos:pos + head]
        pos += head
        payload = bytearray()
        while data[pos]:
            payload += data[pos + 1:pos + 1 + data[pos]]
            pos += 1 + data[pos]
        pos += 1
        body, tail = payload[:-last], payload[-last:]
        for i in range(0, len(body), 255):
            piece = body[i:i + 255]
            out += bytes([len(piece)]) + piece
        out += bytes([len(tail)]) + tail + b"\x00"
    return bytes(out + b"\x3b")


# --- documents and stores read from their header -------------------------------

def wmf_records():
    recs = b""
    for i in range(120):  # META_SETPIXEL: size 7 words, colour, y, x
        recs += struct.pack("<IHIHH", 7, 0x041F, 0x00FF0000 + i, i % 48, i % 64)
    return recs + struct.pack("<IH", 3, 0)  # META_EOF


def wmf_plain():
    recs = wmf_records()
    size = (18 + len(recs)) // 2
    return struct.pack("<HHHIHIH", 1, 9, 0x0300, size, 0, 7, 0) + recs


def wmf_placeable():
    head = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 64, 48, 1440, 0)
    check = 0
    for i in range(0, 20, 2):
        check ^= struct.unpack("<H", head[i:i + 2])[0]
    return head + struct.pack("<H", check) + wmf_plain()


def wordperfect(product, index, size):
    data = bytearray(noise(size, 80 + product[1]))
    data[0:4] = b"\xffWPC"
    struct.pack_into("<I", data, 4, 0x200)
    data[8:12] = bytes(product)
    data[12:14] = b"\x00\x00"
    data[14:18] = bytes(index)
    struct.pack_into("<I", data, 20, size)
    return bytes(data)


def pst(size=20480):
    data = bytearray(noise(size, 90))
    data[0:4] = b"!BDN"
    data[8:10] = b"SM"
    data[10] = 0x17
    data[11] = 0x00
    struct.pack_into("<Q", data, 184, size)
    return bytes(data)


def itl(size=9000):
    data = bytearray(noise(size, 91))
    data[0:4] = b"hdfm"
    struct.pack_into(">II", data, 4, 144, size)
    return bytes(data)


def mbox(path):
    import email.message
    import mailbox
    box = mailbox.mbox(path, create=True)
    for i in range(6):
        m = email.message.Message()
        m["From"] = "Sender %d <sender%d@example.org>" % (i, i)
        m["To"] = "carve@example.org"
        m["Subject"] = "Carved message %d" % i
        m["Date"] = "Mon, 1 Jan 2018 10:%02d:00 +0000" % i
        body = "".join("line %d of message %d\n" % (k, i) for k in range(40 + 7 * i))
        m.set_payload(body + ("--\n" if i == 5 else ""))
        box.add(mailbox.mboxMessage(m))
    box.flush()
    box.close()


def sphere_obj(path, n=64):
    import math
    lines = []
    for i in range(n):
        for j in range(n):
            a, b = 2 * math.pi * i / n, math.pi * j / (n - 1)
            lines.append("v %f %f %f\n" % (math.cos(a) * math.sin(b), math.sin(a) * math.sin(b), math.cos(b)))
    for i in range(n - 1):
        for j in range(n - 1):
            p = i * n + j
            lines.append("f %d %d %d\n" % (p + 1, p + 2, p + n + 2))
            lines.append("f %d %d %d\n" % (p + 1, p + n + 2, p + n + 1))
    open(path, "w").write("".join(lines))


def versioned_3ds(data):
    """The main chunk gets the version chunk first, as 3ds Max writes it."""
    assert data[:2] == b"MM"
    version = struct.pack("<HII", 0x0002, 10, 3)
    body = version + data[6:]
    return struct.pack("<HI", 0x4D4D, 6 + len(body)) + body


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cmd, out = argv[1], argv[2]
    if cmd == "archives":
        text = b"".join(b"archive line %05d of the carved samples\n" % i for i in range(300))
        write(out, "stored.rar", rar([(b"first.txt", text[:5000]), (b"docs\\second.txt", text[5000:])]))
        write(out, "image.dmg", dmg(text * 4))
        write(out, "classic.sit", sit_classic(noise(7000, 9)))
        write(out, "archive.sitx", sitx(noise(6500, 10)))
        write(out, "flat.pkg", flat_pkg(noise(9000, 14)))
        write(out, "package.xar", xar([("Payload/data.txt", b"".join(b"payload line %d\n" % i for i in range(3000))),
                                       ("Resources/Welcome.txt", b"carved installer package\n")]))
    elif cmd == "text":
        write(out, "letter.rtf", rtf())
        write(out, "wide.html", fit(wide_html(), b"\n\x00", 16, 2))
    elif cmd == "stores":
        write(out, "vault.psafe3", fit(psafe3(), noise(64, 11)))
        write(out, "score.sib", fit(sib(), noise(64, 12)))
        write(out, "folder.dbx", dbx_folder())
        write(out, "offline.dbx", fit(dbx_offline(), noise(64, 13)))
        write(out, "book.mobi", mobi())
    elif cmd == "pictures":
        write(out, "layers.psp", psp())
        write(out, "notes.one", onenote())
        write(out, "layout.indd", indesign())
        write(out, "drawing.wpg", fit(wpg(), noise(64, 71), 20))
        write(out, "subblocks.gif", rechunk_gif(open(argv[3], "rb").read()))
    elif cmd == "streamed":
        write(out, "camera.crw", ciff())
        write(out, "project.aep", aep(False, 41))
        write(out, "xmp.aep", aep(True, 51))
        write(out, "track.ngrr", ngrr())
        write(out, "plan_r2000.dwg", dwg_r2000())
        write(out, "plan_r2004.dwg", dwg_r2004())
        write(out, "plan_r2007.dwg", dwg_r2007())
    elif cmd == "documents":
        write(out, "plain.wmf", wmf_plain())
        write(out, "placeable.wmf", wmf_placeable())
        write(out, "letter.wpd", wordperfect([0x01, 0x0A, 0x02, 0x01], [0x00, 0x02, 0x05, 0x00], 6000))
        write(out, "graphic.wpg", wordperfect([0x01, 0x16, 0x02, 0x00], [0x00, 0x00, 0x03, 0x00], 3000))
        write(out, "slides.shw", wordperfect([0x0F, 0x0F, 0x01, 0x00], [0x00, 0x00, 0x03, 0x00], 5000))
        write(out, "database.accdb", ace())
        write(out, "folders.pst", pst())
        write(out, "library.itl", itl())
        path = os.path.join(out, "mail.mbox")
        if os.path.exists(path):
            os.remove(path)
        mbox(path)
    elif cmd == "sphere":
        sphere_obj(out)
    elif cmd == "mesh":
        write(os.path.dirname(out) or ".", os.path.basename(out), versioned_3ds(open(argv[3], "rb").read()))
    elif cmd == "fit-tail":
        data = open(out, "rb").read()
        assert tail_ok(len(data)), "%s: %d bytes leave no zero tail" % (out, len(data))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
