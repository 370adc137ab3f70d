#!/usr/bin/env python3
"""Reshapes audio and video samples made by Debian tools where a test needs
a particular layout, and builds the two formats no Debian tool writes
(Monkey's Audio and Magic Lantern video) from their published layouts.

usage:
  make_media.py id3 IN.mp3 OUT.mp3 TITLE ARTIST YEAR [--latin1] [--picture JPG]
                                          put an ID3v2.3 tag in front
  make_media.py crowd-mp3 IN.mp3 OUT.mp3  hide 40 JPEG-like sector starts in the frames
  make_media.py trec IN.mp4 OUT.mp4       a 24-byte "ftyp" followed by "free"
  make_media.py large-mdat IN.mp4 OUT.mp4 the media data box with a 64-bit size
  make_media.py camera-mov IN.mov OUT.mov an EXIF block (make, model, date) in "moov"
  make_media.py phone-mov IN.mov OUT.mov  a phone's name as the file's last bytes
  make_media.py aligned-wav IN.wav        check: the RIFF length is a multiple of 512
  make_media.py ape OUT.ape               Monkey's Audio, descriptor form
  make_media.py mlv OUT.mlv               Magic Lantern video blocks
"""
import random
import struct
import sys


def boxes(data, start=0, end=None):
    """(offset, size, type) of the boxes in data[start:end]."""
    end = len(data) if end is None else end
    out, pos = [], start
    while pos + 8 <= end:
        size, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if size == 1:
            size = struct.unpack(">Q", data[pos + 8:pos + 16])[0]
        assert size >= 8, (pos, size, kind)
        out.append((pos, size, kind))
        pos += size
    assert pos == end, (pos, end)
    return out


def box(kind, payload):
    return struct.pack(">I4s", 8 + len(payload), kind) + payload


def find(data, kind):
    for off, size, k in boxes(data):
        if k == kind:
            return off, size
    raise SystemExit("no %r box" % kind)


# --- MP3 -------------------------------------------------------------------

def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3_frame(fid, payload):
    return fid + struct.pack(">IH", len(payload), 0) + payload


def id3(src, dst, title, artist, year, latin1=False, picture=None):
    enc = "latin-1" if latin1 else "ascii"
    frames = id3_frame(b"TIT2", b"\0" + title.encode(enc))
    frames += id3_frame(b"TPE1", b"\0" + artist.encode(enc))
    frames += id3_frame(b"TYER", b"\0" + year.encode("ascii"))
    if picture:
        jpeg = open(picture, "rb").read()
        frames += id3_frame(b"APIC", b"\0image/jpeg\0\x03cover\0" + jpeg)
    frames += bytes(256)  # padding, as taggers leave room to grow
    tag = b"ID3\x03\x00\x00" + synchsafe(len(frames)) + frames
    open(dst, "wb").write(tag + open(src, "rb").read())


def mp3_headers(data):
    """Offsets of the MPEG-1 Layer III frames of a CBR file from lame."""
    rates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
    srates = [44100, 48000, 32000]
    out, pos = [], 0
    while pos + 4 <= len(data) and data[pos] == 0xFF and data[pos + 1] & 0xE0 == 0xE0:
        b2 = data[pos + 2]
        length = 144 * rates[b2 >> 4] * 1000 // srates[(b2 >> 2) & 3] + ((b2 >> 1) & 1)
        out.append(pos)
        pos += length
    return out, pos


def crowd_mp3(src, dst):
    """40 sector starts that look like EXIF JPEGs (FF D8 FF E1, "Exif") sit in
    the frames' audio data (every sector start from the second on whose
    bytes do not touch a frame header). Each one's APP1 length sends a
    structure walk past the last of them, so all 40 stay open together and
    the MP3 around them is cut off from the stream. The file ends a few
    frames later, before any frame header falls on a sector boundary, so
    nothing after the cut starts a file of its own."""
    data = bytearray(open(src, "rb").read())
    heads, end = mp3_headers(data)
    assert end == len(data), "not a plain CBR stream"
    count = 40
    # Sector starts whose 12 bytes lie inside a frame's audio data.
    decoys, sector = [], 1
    while len(decoys) < count:
        d = 512 * sector
        if not any(h < d + 12 and d < h + 4 for h in heads):
            decoys.append(d)
        sector += 1
    landing = decoys[-1] + 512 + 64
    # Cut at the first frame boundary well past the landing area.
    cut = next(h for h in heads if h > landing + count + 600)
    data = data[:cut]
    heads = [h for h in heads if h < cut]
    assert all(h % 512 != 0 for h in heads[1:]), "a frame header on a sector boundary"
    for i, d in enumerate(decoys):
        length = landing + i - d - 4
        while data[d + 4 + length] == 0xFF:
            length += 1
        data[d:d + 12] = b"\xff\xd8\xff\xe1" + struct.pack(">H", length) + b"Exif\0\0"
    assert mp3_headers(data) == (heads, len(data))
    open(dst, "wb").write(data)


# --- ISO media ----------------------------------------------------------------

def trec(src, dst):
    """The brands of a TREC recording: a 24-byte "ftyp" (major "mp42", two
    compatible brands) with "free" right after it; the media data stays
    where it was, so the chunk offsets still hold."""
    data = open(src, "rb").read()
    (o1, s1, k1), (o2, s2, k2) = boxes(data)[:2]
    assert (o1, k1, k2) == (0, b"ftyp", b"free")
    room = s1 + s2
    ftyp = box(b"ftyp", b"mp42" + struct.pack(">I", 0) + b"mp42isom")
    free = box(b"free", bytes(room - len(ftyp) - 8))
    out = ftyp + free + data[room:]
    assert out[28:32] == b"free" and len(out) == len(data)
    open(dst, "wb").write(out)


def large_mdat(src, dst):
    """The "free" box before "mdat" becomes the room for a 64-bit size, as
    writers do when the media data passes 4 GiB."""
    data = open(src, "rb").read()
    bs = boxes(data)
    i = next(n for n, b in enumerate(bs) if b[2] == b"mdat")
    fo, fs, fk = bs[i - 1]
    mo, ms, mk = bs[i]
    assert fk == b"free" and fs == 8 and fo + 8 == mo
    header = struct.pack(">I4sQ", 1, b"mdat", ms + 8)
    out = data[:fo] + header + data[mo + 8:]
    assert len(out) == len(data)
    open(dst, "wb").write(out)


def tiff_ifd0(entries):
    """A big-endian TIFF block with one directory of ASCII entries."""
    head = b"MM\x00\x2a" + struct.pack(">I", 8)
    n = len(entries)
    values_at = 8 + 2 + 12 * n + 4
    table, values = b"", b""
    for tag, text in entries:
        raw = text.encode("ascii") + b"\0"
        table += struct.pack(">HHII", tag, 2, len(raw), values_at + len(values))
        values += raw
    return head + struct.pack(">H", n) + table + struct.pack(">I", 0) + values


def camera_mov(src, dst):
    """A camera's EXIF block in the movie box, just after its header, where
    cameras keep theirs."""
    data = open(src, "rb").read()
    mo, ms = find(data, b"moov")
    assert mo + ms == len(data), "moov must come last"
    inner = boxes(data, mo + 8, mo + ms)
    assert inner[0][2] == b"mvhd"
    after = inner[0][0] + inner[0][1]
    exif = b"Exif\0\0" + tiff_ifd0([(0x010F, "Maker"), (0x0110, "Cam 7"),
                                    (0x0132, "2020:05:06 07:08:09")])
    udta = box(b"udta", box(b"exif", exif))
    body = data[mo + 8:after] + udta + data[after:mo + ms]
    open(dst, "wb").write(data[:mo] + box(b"moov", body))


def phone_mov(src, dst):
    """A phone's name as the last bytes of the movie, where phones write it."""
    data = open(src, "rb").read()
    mo, ms = find(data, b"moov")
    assert mo + ms == len(data), "moov must come last"
    udta = box(b"udta", box(b"\xa9mod", b"iPhone 12"))
    out = data[:mo] + box(b"moov", data[mo + 8:] + udta)
    assert out.endswith(b"iPhone 12")
    open(dst, "wb").write(out)


# --- RIFF -------------------------------------------------------------------

def aligned_wav(path):
    data = open(path, "rb").read()
    length = struct.unpack("<I", data[4:8])[0]
    assert data[:4] == b"RIFF" and length + 8 == len(data), "not a plain WAV"
    assert length % 512 == 0, "RIFF length %d is not a multiple of 512" % length


# --- Hand-built formats -----------------------------------------------------

def noise(n, seed):
    rnd = random.Random(seed)
    return bytes(rnd.randrange(1, 256) for _ in range(n))


def ape(dst):
    """Monkey's Audio 3.99: descriptor, header, seek table, WAV header, frame
    data; the descriptor's byte counts add up to the file's size."""
    frames = 3
    frame_data = noise(9000, 31)
    seek = b"".join(struct.pack("<I", 52 + 24 + 4 * frames + 44 + 3000 * i) for i in range(frames))
    wav = b"RIFF" + struct.pack("<I", 36 + 36000) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) + b"data" + struct.pack("<I", 36000)
    descriptor = b"MAC " + struct.pack("<HH", 3990, 0) + struct.pack(
        "<IIIIII", 52, 24, len(seek), len(wav), len(frame_data), 0) + struct.pack("<I", 0) + bytes(16)
    assert len(descriptor) == 52
    header = struct.pack("<HHIIIHHI", 2000, 0, 73728, 12288, frames, 16, 2, 44100)
    assert len(header) == 24
    open(dst, "wb").write(descriptor + header + seek + wav + frame_data)


def mlv_block(kind, payload):
    return kind + struct.pack("<I", 8 + len(payload)) + payload


def mlv(dst):
    """A file header block (its length 52, so "RAWI" follows at 52), a raw
    image description, a few frame blocks and a closing marker block."""
    head = b"MLVI" + struct.pack("<I", 52) + b"v2.0\0\0\0\0" + struct.pack(
        "<QHHIHHIIII", 0x1122334455667788, 1, 0, 3, 0, 0, 25000, 1000, 0, 0)
    assert len(head) == 52, len(head)
    blocks = [mlv_block(b"RAWI", struct.pack("<QHH", 1, 160, 90) + noise(172, 41))]
    for i in range(4):
        blocks.append(mlv_block(b"VIDF", struct.pack("<QIHHHH", 1000 * i, i, 0, 0, 0, 0) + noise(2900, 50 + i)))
    blocks.append(mlv_block(b"MARK", struct.pack("<Q", 9999) + noise(24, 60)))
    open(dst, "wb").write(head + b"".join(blocks))


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cmd, args = argv[1], argv[2:]
    if cmd == "id3":
        picture = args[args.index("--picture") + 1] if "--picture" in args else None
        id3(args[0], args[1], args[2], args[3], args[4], "--latin1" in args, picture)
    elif cmd == "crowd-mp3":
        crowd_mp3(args[0], args[1])
    elif cmd == "trec":
        trec(args[0], args[1])
    elif cmd == "large-mdat":
        large_mdat(args[0], args[1])
    elif cmd == "camera-mov":
        camera_mov(args[0], args[1])
    elif cmd == "phone-mov":
        phone_mov(args[0], args[1])
    elif cmd == "aligned-wav":
        aligned_wav(args[0])
    elif cmd == "ape":
        ape(args[0])
    elif cmd == "mlv":
        mlv(args[0])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
