#!/usr/bin/env python3
"""Makes a FAT32 volume full of real files of the carved types, notes where
each file lies, then wipes the file system (boot sectors, FATs, root folder)
so that only the signature search can find them. Writes OUT/volume.img, the
manifest OUT/volume.json (the carve checker's format) and the source files
under OUT/files.

Files come from Debian tools: JPEG from cjpeg (baseline, progressive,
optimised, restart markers, greyscale; some given a camera by exiftool),
BMP from ppmtobmp, ICO and CUR from icotool, icns from png2icns, AU from
sox, CAB from gcab. With --mix all also PNG (pnmtopng), GIF (ppmtogif),
TIFF (pnmtotiff), Photoshop (ImageMagick), tar, gzip, zip, SQLite
(sqlite3), TrueType subsets (pyftsubset of the installed fonts), the HTML
pages under /usr/share/doc, RTF text and xar packages (the carve samples'
builder). The pictures start as PPMs made here from seeded noise
and gradients, so a run with the same seed gives the same files.

With --mix media the volume holds a card's large files instead (photos,
MP3, WAV, PDF, ZIP; make_media.py) and its first 64 MiB are zeroed
(--wipe-mib), file system and the first files with it; files that lay
there are left out of the manifest.

usage: make_volume.py OUT --size-mib N [--fill F] [--seed S] [--mix carved|all|media] [--wipe-mib M]"""
import argparse
import glob
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_media  # noqa: E402  (the large media files of --mix media)

CAMERA = ("Velmora", "Bench 1")


def run(*args, **kw):
    subprocess.run(list(args), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def ppm(path, w, h, rnd, grey=False):
    """A gradient with bands of grain: big enough to be a real photo's size
    once compressed, varied enough that no two are alike."""
    ch = 1 if grey else 3
    base = bytes((x * 255 // w + rnd.randrange(8)) % 256 for x in range(w) for _ in range(ch))
    noise = os.urandom(w * ch * 8)
    rows = []
    for y in range(h):
        if y % 4 == 0:
            k = (y * 7 + rnd.randrange(1 << 16)) % (len(noise) - w * ch)
            rows.append(bytes(a ^ (b & 0x3F) for a, b in zip(base, noise[k:k + w * ch])))
        else:
            rows.append(base[(y % 5):] + base[:(y % 5)])
    with open(path, "wb") as f:
        f.write(b"%s %d %d 255\n" % (b"P5" if grey else b"P6", w, h))
        f.write(b"".join(rows))


# Mail folders are left out: a folder whose last message does not end the
# way the mailbox analyser looks for runs on over the files after it.
MORE_KINDS = ["png", "gif", "tif", "psd", "tar", "gz", "html", "rtf", "sqlite", "ttf", "zip", "xar"]


def text(rnd, lines):
    words = ["carved", "sector", "volume", "record", "archive", "picture", "recovery", "cluster", "table", "entry"]
    return "".join("%d %s\n" % (i, " ".join(rnd.choice(words) for _ in range(rnd.randrange(3, 14))))
                   for i in range(lines))


def make_more(kind, name, n, rnd, work, pics, htmls, fonts):
    """One file of the kinds the -mix all volume adds; (path, type, name, label) or None."""
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, os.path.join(here, "samples"))
    import make_archives  # noqa: E402  (the samples' own builders)
    region = "pamcut -left %d -top %d -width %d -height %d %s" % (
        rnd.randrange(200), rnd.randrange(150), rnd.randrange(60, 420), rnd.randrange(60, 320),
        pics[rnd.randrange(3)])
    if kind == "png":
        run("sh", "-c", "%s | pnmtopng > %s" % (region, name))
        return [name, "PNG", "{start}-{end}_", None]
    if kind == "gif":
        run("sh", "-c", "%s | pnmquant 256 | ppmtogif > %s" % (region, name))
        return [name, "GIF", "FILE", None]
    if kind == "tif":
        run("sh", "-c", "%s | pnmtotiff %s > %s" % (region, rnd.choice(["", "-lzw", "-packbits"]), name))
        return [name, "TIF", "{start}-{end}", None]
    if kind == "psd":
        im = shutil.which("convert-im6.q16") or "convert"
        src = os.path.join(work, "psd%d.ppm" % n)
        run("sh", "-c", "%s > %s" % (region, src))
        run(im, src, "-compress", rnd.choice(["none", "RLE"]), name)
        return [name, "PSD", "{start}-{end}", None]
    if kind in ("tar", "zip"):
        folder = os.path.join(work, "t%d" % n)
        os.makedirs(folder)
        for k in range(rnd.randrange(2, 8)):
            with open(os.path.join(folder, "part%d.txt" % k), "w") as f:
                f.write(text(rnd, rnd.randrange(20, 3000)))
        if kind == "tar":
            run("tar", "-cf", name, "-C", work, "t%d" % n)
            return [name, "TAR", "{start}-{end}_", None]
        run("sh", "-c", "cd %s && zip -q -r %s t%d" % (work, name, n))
        return [name, "ZIP", "FILE", None]
    if kind == "gz":
        src = os.path.join(work, "g%d.txt" % n)
        with open(src, "w") as f:
            f.write(text(rnd, rnd.randrange(200, 20000)))
        with open(name, "wb") as f:
            subprocess.run(["gzip", "-c", "-%d" % rnd.randrange(1, 10), src], check=True, stdout=f)
        return [name, "GZ", "{start}-{end}_", None]
    if kind == "html":
        if not htmls:
            return None
        shutil.copyfile(htmls.pop(rnd.randrange(len(htmls))), name)
        return [name, "HTM", "{start}-{end}_", None]
    if kind == "rtf":
        body = text(rnd, rnd.randrange(20, 2000)).replace("\n", "\\par\n")
        with open(name, "w") as f:
            f.write("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}\n{\\b Carved %d}\\par\n%s}\n" % (n, body))
        return [name, "RTF", "{start}-{end}_", None]
    if kind == "sqlite":
        rows = rnd.randrange(50, 5000)
        run("sqlite3", name, "PRAGMA page_size=%d; CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT, w REAL);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<%d) "
            "INSERT INTO t(v, w) SELECT hex(randomblob(%d)), i * 0.5 FROM n;"
            % (rnd.choice([1024, 4096]), rows, rnd.randrange(4, 60)))
        return [name, "FCPEVENT", "{start}-{end}_", None]
    if kind == "ttf":
        if not fonts or n % 3 != 0:  # subsetting is slow: one font in three rounds
            return None
        chars = "".join(chr(rnd.randrange(0x21, 0x250)) for _ in range(rnd.randrange(20, 400)))
        run("pyftsubset", fonts[rnd.randrange(len(fonts))], "--text=" + chars, "--output-file=" + name)
        return [name, "TTF", "FILE", None]
    if kind == "xar":
        members = [("Payload/f%d.txt" % k, text(rnd, rnd.randrange(10, 4000)).encode()) for k in range(3)]
        with open(name, "wb") as f:
            f.write(make_archives.xar(members))
        return [name, "pkg", "FILE", None]
    return None


def make_files(work, out, budget, rnd, mix="carved"):
    """(path, type, name pattern, label) of files adding up to about budget bytes."""
    files = []
    total = 0
    n = 0
    pics = []
    for i in range(10):
        w, h = rnd.choice([(640, 480), (1024, 768), (1600, 1200), (2400, 1600), (800, 600), (3000, 2000)])
        p = os.path.join(work, "pic%d.ppm" % i)
        ppm(p, w, h, rnd, grey=(i == 9))
        pics.append(p)
    kinds = ["jpg"] * 12 + ["bmp", "ico", "cur", "icns", "au", "cab"]
    if mix == "all":
        kinds += MORE_KINDS
    htmls = sorted(p for p in glob.glob("/usr/share/doc/**/*.html", recursive=True) if os.path.isfile(p)) if mix == "all" else []
    fonts = sorted(p for p in glob.glob("/usr/share/fonts/truetype/**/*.ttf", recursive=True) if os.path.isfile(p)) if mix == "all" else []
    seen = set()
    cameras = []
    while total < budget:
        kind = kinds[n % len(kinds)]
        name = os.path.join(out, "f%05d.%s" % (n, kind))
        if kind == "jpg":
            src = pics[rnd.randrange(len(pics))]
            variant, opts = make_media.cjpeg_options(rnd, rnd.randrange(55, 98), 5,
                                                     lambda r: str(r.randrange(1, 8)))
            if variant == 4:
                opts += ["-dct", "float", "-smooth", str(rnd.randrange(1, 50))]
            with open(name, "wb") as f:
                subprocess.run(["cjpeg"] + opts + [src], check=True, stdout=f, stderr=subprocess.DEVNULL)
            if n % 5 == 0:
                cameras.append(name)
            files.append([name, "JPG", "{start}-{end}", None])
        elif kind == "bmp":
            src = pics[rnd.randrange(3)]
            run("sh", "-c", "pamcut -width %d -height %d %s | ppmtobmp > %s"
                % (rnd.randrange(50, 600), rnd.randrange(50, 400), src, name))
            files.append([name, "BMP", "FILE", None])
        elif kind in ("ico", "cur", "icns"):
            # Each icon from its own corner of a picture.
            side = 128 if kind == "icns" else rnd.choice([16, 32, 48])
            png = os.path.join(work, "icon%d.png" % n)
            run("sh", "-c", "pamcut -left %d -top %d -width %d -height %d %s | pnmtopng > %s"
                % (rnd.randrange(400), rnd.randrange(300), side, side, pics[rnd.randrange(3)], png))
            if kind == "ico":
                run("icotool", "-c", "-o", name, png)
                files.append([name, "ICO", "FILE", None])
            elif kind == "cur":
                run("icotool", "-c", "--cursor", "--hotspot-x=%d" % rnd.randrange(side), "--hotspot-y=1", "-o",
                    name, png)
                files.append([name, "CUR", "FILE", None])
            else:
                run("png2icns", name, png)
                files.append([name, "icns", "FILE", None])
        elif kind == "au":
            run("sox", "-n", "-r", "8000", "-c", "1", "-b", "16", name, "synth", "%.2f" % (0.2 + rnd.random() * 3),
                "sine", str(rnd.randrange(200, 2000)))
            files.append([name, "AU", "FILE", None])
        elif kind in MORE_KINDS:
            entry = make_more(kind, name, n, rnd, work, pics, htmls, fonts)
            if entry is None:
                n += 1
                continue
            digest = hashlib.sha256(open(name, "rb").read()).hexdigest()
            if digest in seen:  # the same bytes twice could not be told apart
                os.remove(name)
                n += 1
                continue
            seen.add(digest)
            files.append(entry)
        elif kind == "cab":
            text = os.path.join(work, "note%d.txt" % n)
            with open(text, "w") as f:
                f.write(("cabinet member %d\n" % n) * rnd.randrange(10, 4000))
            run("gcab", "-c", "-z", name, text)
            files.append([name, "CAB", "FILE", None])
        total += os.path.getsize(name)
        n += 1
    # One exiftool run gives a camera to every fifth picture.
    if cameras:
        run("exiftool", "-q", "-q", "-overwrite_original", "-Make=" + CAMERA[0], "-Model=" + CAMERA[1], *cameras)
        named = set(cameras)
        for f in files:
            if f[0] in named:
                f[2] = "%s_%s_{start}-{end}" % (CAMERA[0].upper(), CAMERA[1])
                f[3] = "Camera/" + CAMERA[0].upper()
    return files


def geometry(img):
    with open(img, "rb") as f:
        bs = f.read(512)
    bps = struct.unpack_from("<H", bs, 11)[0]
    spc, res, nf = bs[13], struct.unpack_from("<H", bs, 14)[0], bs[16]
    spf = struct.unpack_from("<I", bs, 36)[0]
    root = struct.unpack_from("<I", bs, 44)[0]
    return bps, spc, res, nf, spf, root


def dir_entries(img, first_data, bps, spc, fat, cluster):
    """(long name, first cluster, size) of the entries in a folder chain."""
    out = []
    seen = set()
    lfn = []
    with open(img, "rb") as f:
        while 2 <= cluster < 0x0FFFFFF8 and cluster not in seen:
            seen.add(cluster)
            f.seek((first_data + (cluster - 2) * spc) * bps)
            data = f.read(spc * bps)
            for i in range(0, len(data), 32):
                e = data[i:i + 32]
                if e[0] == 0:
                    return out
                if e[0] == 0xE5:
                    lfn = []
                    continue
                if e[11] == 0x0F:
                    lfn.append(e)
                    continue
                if e[11] & 0x18:
                    lfn = []
                    continue
                if lfn:
                    units = b"".join(x[1:11] + x[14:26] + x[28:32] for x in reversed(lfn))
                    name = units.decode("utf-16le", errors="replace").split("\x00")[0]
                else:
                    name = e[0:8].decode("latin-1").rstrip() + "." + e[8:11].decode("latin-1").rstrip()
                lfn = []
                first = struct.unpack_from("<H", e, 20)[0] << 16 | struct.unpack_from("<H", e, 26)[0]
                out.append((name.lower(), first, struct.unpack_from("<I", e, 28)[0]))
            cluster = struct.unpack_from("<I", fat, cluster * 4)[0] & 0x0FFFFFFF
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--size-mib", type=int, required=True)
    ap.add_argument("--fill", type=float, default=0.75)
    ap.add_argument("--seed", type=int, default=2024)
    ap.add_argument("--mix", choices=("carved", "all", "media"), default="carved",
                    help="all: also pictures, archives, documents, databases, fonts and mail of the other analysers; "
                         "media: large photos, MP3s, WAVs, PDFs and ZIPs only")
    ap.add_argument("--wipe-mib", type=int, help="zero this many MiB from the start instead of the file system's "
                                                  "own sectors (default 64 for --mix media)")
    a = ap.parse_args()
    if a.mix == "media" and a.wipe_mib is None:
        a.wipe_mib = 64
    tools = ("cjpeg", "exiftool", "ppmtobmp", "pamcut", "pnmtopng", "icotool", "png2icns", "sox", "gcab")
    for tool in ("mkfs.fat", "mcopy") + (make_media.TOOLS if a.mix == "media" else tools):
        if shutil.which(tool) is None:
            print("missing %s (scripts/install-deps.sh)" % tool, file=sys.stderr)
            sys.exit(77)
    rnd = random.Random(a.seed)
    files_dir = os.path.join(a.out, "files")
    work = os.path.join(a.out, "work")
    os.makedirs(files_dir, exist_ok=True)
    os.makedirs(work, exist_ok=True)
    budget = int(a.size_mib * (1 << 20) * a.fill)
    if a.mix == "media":
        files = make_media.make_files(work, files_dir, budget, rnd)
    else:
        files = make_files(work, files_dir, budget, rnd, a.mix)
    img = os.path.join(a.out, "volume.img")
    if os.path.exists(img):
        os.remove(img)
    run("mkfs.fat", "-C", "-F", "32", "-s", "8", "-i", "5EA4C4ED", "-n", "CARVED", img,
        str(a.size_mib * 1024))
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    batch = [f[0] for f in files]
    for i in range(0, len(batch), 200):
        subprocess.run(["mcopy", "-i", img] + batch[i:i + 200] + ["::/"], check=True, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    bps, spc, res, nf, spf, root = geometry(img)
    first_data = res + nf * spf
    with open(img, "rb") as f:
        f.seek(res * bps)
        fat = f.read(spf * bps)
    placed = {name: (first, size) for name, first, size in dir_entries(img, first_data, bps, spc, fat, root)}
    expected = []
    for path, kind, name, label in files:
        first, size = placed[os.path.basename(path)]
        # Only a file stored in one piece can be carved whole.
        c, count = first, 1
        while True:
            nxt = struct.unpack_from("<I", fat, c * 4)[0] & 0x0FFFFFFF
            if nxt >= 0x0FFFFFF8:
                break
            if nxt != c + 1:
                count = -1
                break
            c, count = nxt, count + 1
        start = first_data + (first - 2) * spc
        if count < 0 or size != os.path.getsize(path) or (a.wipe_mib and start * bps < a.wipe_mib << 20):
            continue
        end = start + (size - 1) // bps
        expected.append({
            "file": os.path.basename(path),
            "source": os.path.abspath(path),
            "start_sector": start,
            "size": size,
            "type": kind,
            "name_regex": "^" + name.format(start=start, end=end).replace(".", "\\.") + r"[0-9]{3,}\." + kind + "$",
            "label": label,
            "sha256": hashlib.sha256(open(path, "rb").read()).hexdigest(),
        })
    # The file system goes: boot sectors, FSInfo, both FATs and the root
    # folder's first cluster.
    with open(img, "r+b") as f:
        if a.wipe_mib:
            f.write(bytes(a.wipe_mib << 20))
            f.seek(0)
        f.write(bytes(res * bps))
        f.write(bytes(nf * spf * bps))
        f.seek((first_data + (root - 2) * spc) * bps)
        f.write(bytes(spc * bps))
    shutil.rmtree(work)
    manifest = {"image": os.path.abspath(img),
                "layout": "FAT32, first %d MiB zeroed" % a.wipe_mib if a.wipe_mib else "wiped FAT32", "sector_size": bps, "files": expected,
                "made": len(files)}
    with open(os.path.join(a.out, "volume.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print("%d files made, %d stored whole, %d MiB" % (len(files), len(expected),
                                                      sum(e["size"] for e in expected) >> 20))


if __name__ == "__main__":
    main()
