#!/usr/bin/env python3
"""Builds the office-document samples no Debian tool writes, from the
published compound-file and ZIP layouts (Python standard library only).

usage:
  make_office.py ole OUTDIR      compound files: PowerPoint, a version-4 Word
                                 document, a workbook whose FAT comes before
                                 its DIFAT
  make_office.py big OUT         a 7.5 MB workbook, FAT sectors before the
                                 DIFAT sector (made when an image is laid out)
  make_office.py zip OUTDIR      ZIP containers: PPTX, ODT, ODS, ODP, EPUB,
                                 PAGES, KEY, NUMBERS, OLM, TAX, CDR
  make_office.py stream OUT      a ZIP written to a pipe (data descriptors)
  make_office.py flags IN OUT F  IN with general-purpose flags F in every header
  make_office.py docx OUT        python-docx, with core properties
  make_office.py xlsx OUT        openpyxl, with core properties
  make_office.py xls OUT         xlwt (no summary information)
The last three need Debian's python3-docx, python3-openpyxl, python3-xlwt.
"""
import io
import os
import struct
import sys
import zipfile

FREE, END, FATSECT, DIFSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC
SUMMARY_FMTID = bytes.fromhex("e0859ff2f94f6810ab9108002b27b3d9")


def filetime(y, mo, d, h, mi, s):
    import calendar
    return (calendar.timegm((y, mo, d, h, mi, s, 0, 0, 0)) + 11644473600) * 10000000


def summary(title=None, author=None, last_author=None, created=None, saved=None):
    """A SummaryInformation property set with 8-bit strings and times."""
    props = [(1, struct.pack("<IhH", 2, 1252, 0))]
    def text(s):
        b = s.encode("cp1252") + b"\0"
        b += b"\0" * (-len(b) % 4)
        return struct.pack("<II", 30, len(s) + 1) + b
    for pid, value in ((2, title), (4, author), (8, last_author)):
        if value is not None:
            props.append((pid, text(value)))
    for pid, value in ((12, created), (13, saved)):
        if value is not None:
            props.append((pid, struct.pack("<IQ", 64, value)))
    head = 8 + 8 * len(props)
    table, values, at = b"", b"", head
    for pid, v in props:
        table += struct.pack("<II", pid, at)
        values += v
        at += len(v)
    section = struct.pack("<II", at, len(props)) + table + values
    return (struct.pack("<HHI16sI", 0xFFFE, 0, 0x00020006, b"\0" * 16, 1) + SUMMARY_FMTID +
            struct.pack("<I", 48) + section)


def compound(streams, version=3, root_clsid=b"\0" * 16, fat_first=False):
    """A compound file holding `streams` [(name, bytes)] as the root's
    children, in directory order. Every stream is padded to 4096 bytes at
    least, so it lives in regular sectors."""
    ss = 512 if version == 3 else 4096
    e = ss // 4
    datas = []
    for name, data in streams:
        if len(data) < 4096:
            data = data + b"\0" * (4096 - len(data))
        datas.append((name, data))
    n_data = sum((len(d) + ss - 1) // ss for _, d in datas)
    n_dir = ((len(datas) + 1) * 128 + ss - 1) // ss
    n_fat, n_difat = 1, 0
    while True:
        total = n_data + n_dir + n_fat + n_difat
        need_fat = (total + e - 1) // e
        need_difat = max(0, (need_fat - 109 + e - 2) // (e - 1))
        if (need_fat, need_difat) == (n_fat, n_difat):
            break
        n_fat, n_difat = need_fat, need_difat
    fat = [FREE] * (n_fat * e)
    body = bytearray()
    starts = []
    sector = 0
    for name, data in datas:
        count = (len(data) + ss - 1) // ss
        starts.append(sector)
        for k in range(count):
            fat[sector + k] = sector + k + 1 if k + 1 < count else END
        body += data + b"\0" * (-len(data) % ss)
        sector += count
    dir_start = sector
    for k in range(n_dir):
        fat[sector + k] = sector + k + 1 if k + 1 < n_dir else END
    sector += n_dir
    if fat_first:
        fat_start, difat_start = sector, sector + n_fat
    else:
        difat_start, fat_start = sector, sector + n_difat
    fat_sectors = list(range(fat_start, fat_start + n_fat))
    for s in fat_sectors:
        fat[s] = FATSECT
    for k in range(n_difat):
        fat[difat_start + k] = DIFSECT

    def entry(name, kind, child, right, start, size, clsid=b"\0" * 16):
        raw = name.encode("utf-16-le") + b"\0\0"
        return (raw.ljust(64, b"\0") + struct.pack("<HBB", len(raw), kind, 1) +
                struct.pack("<III", FREE, right, child) + clsid + b"\0" * 20 +
                struct.pack("<IQ", start, size))
    directory = entry("Root Entry", 5, 1 if datas else FREE, FREE, END, 0, root_clsid)
    for i, (name, data) in enumerate(datas):
        right = i + 2 if i + 1 < len(datas) else FREE
        directory += entry(name, 2, FREE, right, starts[i], len(data))
    unused = (b"\0" * 64 + struct.pack("<HBB", 0, 0, 0) + struct.pack("<III", FREE, FREE, FREE) +
              b"\0" * 36 + struct.pack("<IQ", 0, 0))
    while len(directory) < n_dir * ss:
        directory += unused
    body += directory

    fat_bytes = b"".join(struct.pack("<I", v) for v in fat)
    difat_bytes = b""
    rest = fat_sectors[109:]
    for k in range(n_difat):
        chunk = rest[k * (e - 1):(k + 1) * (e - 1)]
        chunk = chunk + [FREE] * (e - 1 - len(chunk))
        nxt = difat_start + k + 1 if k + 1 < n_difat else END
        difat_bytes += b"".join(struct.pack("<I", v) for v in chunk + [nxt])
    body += (fat_bytes + difat_bytes) if fat_first else (difat_bytes + fat_bytes)

    head = bytearray(512)
    head[0:8] = bytes.fromhex("d0cf11e0a1b11ae1")
    struct.pack_into("<HHHHH", head, 24, 0x3E, version, 0xFFFE, 9 if version == 3 else 12, 6)
    struct.pack_into("<IIIIIIIII", head, 40, n_dir if version == 4 else 0, n_fat, dir_start, 0,
                     4096, END, 0, difat_start if n_difat else END, n_difat)
    listed = fat_sectors[:109] + [FREE] * (109 - min(109, n_fat))
    struct.pack_into("<109I", head, 76, *listed)
    head = bytes(head) + b"\0" * (ss - 512)
    return head + bytes(body)


def ole_samples(out):
    os.makedirs(out, exist_ok=True)
    deck = compound([
        ("PowerPoint Document", b"\x0f\x00\xe8\x03" + bytes(range(256)) * 20),
        ("Current User", b"current user"),
        ("\x05SummaryInformation", summary(title="Quarterly review", author="Sam Writer",
                                            last_author="Ann Editor",
                                            created=filetime(2015, 6, 1, 10, 20, 30),
                                            saved=filetime(2016, 2, 29, 12, 0, 0))),
    ])
    open(os.path.join(out, "deck.ppt"), "wb").write(deck)
    # A version-4 file: 4096-byte sectors, a summary without a save time.
    word = compound([
        ("1Table", b"table" * 1000),
        ("WordDocument", b"\xec\xa5\xc1\x00" + b"word" * 3000),
        ("\x05SummaryInformation", summary(title="Minutes", author="Lee Author",
                                            created=filetime(2012, 3, 4, 5, 6, 7))),
    ], version=4)
    open(os.path.join(out, "minutes_v4.doc"), "wb").write(word)
    # A drawing: named from its summary, but no office label.
    drawing = compound([
        ("VisioDocument", b"Visio (TM) Drawing\r\n" + b"\0" * 6000),
        ("\x05SummaryInformation", summary(title="Floor plan", last_author="Kim Drafter",
                                            saved=filetime(2020, 1, 2, 3, 4, 5))),
    ])
    open(os.path.join(out, "plan.vsd"), "wb").write(drawing)


def big_workbook(path):
    """Over 7 MB: its FAT needs DIFAT sectors, and every FAT sector lies
    before the DIFAT sector that lists the last of them."""
    data = bytearray()
    for i in range(7500 * 1024 // 64):
        data += struct.pack("<16I", *([i] * 16))
    book = compound([("Workbook", bytes(data)),
                     ("\x05SummaryInformation", summary(title="Ledger", author="Big Co",
                                                         created=filetime(2011, 11, 11, 11, 11,
                                                                          11)))],
                    fat_first=True)
    open(path, "wb").write(book)


FIXED = (2021, 5, 6, 7, 8, 10)


def zip_of(path, members, comment=b""):
    """members: [(name, bytes, compress)] written in order."""
    with zipfile.ZipFile(path, "w") as z:
        for name, data, deflate in members:
            info = zipfile.ZipInfo(name, FIXED)
            info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
        z.comment = comment


def core_xml(title, creator, last, created, modified):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/'
            'metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/" '
            'xmlns:dcterms="http://purl.org/dc/terms/" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">'
            '<dc:title>%s</dc:title><dc:creator>%s</dc:creator>'
            '<cp:lastModifiedBy>%s</cp:lastModifiedBy>'
            '<dcterms:created xsi:type="dcterms:W3CDTF">%s</dcterms:created>'
            '<dcterms:modified xsi:type="dcterms:W3CDTF">%s</dcterms:modified>'
            '</cp:coreProperties>' % (title, creator, last, created, modified)).encode()


def filler(seed, n):
    """Text that deflates to something, deterministically."""
    words = [b"alpha", b"beta", b"gamma", b"delta", b"omega", b"sigma", b"kappa"]
    out, x = bytearray(), seed
    while len(out) < n:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[x % len(words)] + (b"\n" if x % 11 == 0 else b" ")
    return bytes(out[:n])


def zip_samples(out):
    os.makedirs(out, exist_ok=True)
    types = b'<?xml version="1.0"?><Types/>'
    zip_of(os.path.join(out, "slides.pptx"), [
        ("[Content_Types].xml", types, True),
        ("_rels/.rels", b"<Relationships/>", True),
        ("docProps/core.xml", core_xml("Roadmap", "Pat Creator", "Robin Reviewer",
                                       "2019-04-01T08:00:00Z", "2019-04-02T09:30:15Z"), True),
        ("ppt/_rels/presentation.xml.rels", b"<Relationships/>", True),
        ("ppt/presentation.xml", filler(1, 20000), True),
        ("ppt/slides/slide1.xml", filler(2, 9000), True),
    ])

    def odf(name, mime, content):
        zip_of(os.path.join(out, name), [
            ("mimetype", mime, False),
            ("content.xml", content, True),
            ("META-INF/manifest.xml", b"<manifest:manifest/>", True),
        ])
    odf("text.odt", b"application/vnd.oasis.opendocument.text", filler(3, 15000))
    odf("sheet.ods", b"application/vnd.oasis.opendocument.spreadsheet", filler(4, 15000))
    odf("show.odp", b"application/vnd.oasis.opendocument.presentation", filler(5, 15000))
    zip_of(os.path.join(out, "book.epub"), [
        ("mimetype", b"application/epub+zip", False),
        ("META-INF/container.xml", b"<container/>", True),
        ("OEBPS/Text/chapter1.xhtml", filler(6, 30000), True),
    ])
    zip_of(os.path.join(out, "letter.pages"), [
        ("Index/Document.iwa", filler(7, 9000), False),
        ("buildVersionHistory.plist",
         b'<?xml version="1.0"?>\n<plist><array><string>pages-trunk-7030</string></array>'
         b'</plist>\n', False),
        ("preview.jpg", filler(8, 3000), False),
    ])
    zip_of(os.path.join(out, "talk.key"), [
        ("Index/Document.iwa", filler(9, 9000), False),
        ("Index/Slide1.iwa", filler(10, 5000), False),
    ])
    zip_of(os.path.join(out, "figures.numbers"), [
        ("Index/Document.iwa", filler(11, 9000), False),
        ("Index/Tables/DataList.iwa", filler(12, 3000), False),
        ("buildVersionHistory.plist",
         b'<?xml version="1.0"?>\n<plist><array><string>numbers-trunk-6001</string></array>'
         b'</plist>\n', False),
    ])
    zip_of(os.path.join(out, "archive.olm"), [
        ("Categories.xml", b"<categories/>", True),
        ("Accounts/Outlook/", b"", False),
        ("Accounts/Outlook/com.microsoft.__Messages/Inbox/message_00001.xml",
         filler(13, 12000), True),
    ])
    zip_of(os.path.join(out, "return.tax"), [
        ("8d2b7c1e-4f3a-4b6d-9e0f-1a2b3c4d5e6f", filler(14, 8000), True),
        ("summary.xml", b"<return/>", True),
    ])
    zip_of(os.path.join(out, "drawing.cdr"), [
        ("content/riffData.cdr", b"RIFF\x10\x00\x00\x00CDR9" + filler(15, 8000), True),
        ("content/root.dat", b"root", True),
        ("META-INF/metadata.xml", b"<metadata/>", True),
    ])


class Pipe(io.RawIOBase):
    """A file that cannot seek, as a pipe: zipfile then writes data
    descriptors."""
    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, b):
        self.target.write(b)
        return len(b)

    def seekable(self):
        return False


def stream_zip(path):
    with open(path, "wb") as f:
        with zipfile.ZipFile(Pipe(f), "w", zipfile.ZIP_DEFLATED) as z:
            for i, n in enumerate((12000, 30000, 5000)):
                info = zipfile.ZipInfo("part%d.txt" % i, FIXED)
                info.compress_type = zipfile.ZIP_DEFLATED
                with z.open(info, "w") as m:
                    m.write(filler(20 + i, n))


def set_flags(src, dst, flags):
    """Rewrites the general-purpose flags of every local and central header
    (bits 1 and 2 only tell the deflate level, so the archive stays valid)."""
    d = bytearray(open(src, "rb").read())
    flags = int(flags, 0)
    o = 0
    while d[o:o + 4] == b"PK\x03\x04":
        struct.pack_into("<H", d, o + 6, flags)
        o = d.index(b"PK\x07\x08", o + 30) + 16 if flags & 8 else \
            o + 30 + sum(struct.unpack("<HH", d[o + 26:o + 30])) + struct.unpack("<I", d[o + 18:o + 22])[0]
    while d[o:o + 4] == b"PK\x01\x02":
        struct.pack_into("<H", d, o + 8, flags)
        o += 46 + sum(struct.unpack("<HHH", d[o + 28:o + 34]))
    assert d[o:o + 4] == b"PK\x05\x06"
    open(dst, "wb").write(d)


def docx_sample(path):
    import datetime
    import docx
    d = docx.Document()
    d.add_heading("Annual report", 0)
    for i in range(20):
        d.add_paragraph(("Paragraph %d of the report. " % i) * 8)
    cp = d.core_properties
    cp.title, cp.author, cp.last_modified_by = "Annual report", "Jane Writer", "Max Checker"
    cp.created = datetime.datetime(2018, 3, 4, 5, 6, 7)
    cp.modified = datetime.datetime(2018, 9, 10, 11, 12, 13)
    d.save(path)


def xlsx_sample(path):
    import datetime
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    for r in range(1, 80):
        ws.append([r, r * 2, "row %d" % r])
    p = wb.properties
    p.title, p.creator, p.lastModifiedBy = "Budget 2017", "Ola Planner", "Ida Auditor"
    p.created = datetime.datetime(2017, 1, 2, 3, 4, 5)
    p.modified = datetime.datetime(2017, 6, 7, 8, 9, 10)
    wb.save(path)


def xls_sample(path):
    import xlwt
    wb = xlwt.Workbook()
    ws = wb.add_sheet("Prices")
    for r in range(60):
        for c in range(6):
            ws.write(r, c, r * c + 0.5)
    wb.save(path)


def main():
    what, args = sys.argv[1], sys.argv[2:]
    {"ole": ole_samples, "big": big_workbook, "zip": zip_samples, "stream": stream_zip,
     "flags": set_flags, "docx": docx_sample, "xlsx": xlsx_sample, "xls": xls_sample}[what](*args)


if __name__ == "__main__":
    main()
