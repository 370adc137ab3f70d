"""The large media files of `make_volume.py --mix media`: what a camera or
recorder card holds. Photos of several MB (ImageMagick plasma with grain,
cropped and encoded by cjpeg, camera tags and a thumbnail by exiftool), MP3s
(sox noise and tones, lame with ID3 tags), WAVs (sox), PDFs of text and
photo pages (written here, then rewritten by qpdf or Ghostscript) and ZIPs
of such files. Every random choice comes from the caller's seeded
generator and the tools are run in their repeatable modes, so one seed
gives the same bytes; the tools themselves run four at a time."""
import concurrent.futures
import os
import shutil
import subprocess
import zlib

TOOLS = ("convert", "cjpeg", "pamcut", "exiftool", "sox", "lame", "qpdf", "gs", "zip")
CAMERAS = (("Canon", "Canon EOS 80D"), ("NIKON CORPORATION", "NIKON D750"), ("SONY", "ILCE-7M3"))
FIXED_TIME = 1700000000  # members' and sources' times, so that zip writes the same bytes
# Photos, songs and recordings by count, as a card's folders hold them.
KINDS = ["jpg"] * 5 + ["mp3"] * 2 + ["wav", "pdf", "zip"]


def run(*args, env=None):
    subprocess.run(list(args), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)


def shell(cmd):
    run("sh", "-c", cmd)


def bases(work, rnd, pool):
    """Eight large grained plasma pictures the photos are cut from."""
    out, jobs = [], []
    for i in range(8):
        w, h = rnd.choice([(4000, 3000), (3648, 2736), (3840, 2560)])
        p = os.path.join(work, "base%d.ppm" % i)
        jobs.append(pool.submit(run, "convert", "-seed", str(rnd.randrange(1 << 30)), "-size", "%dx%d" % (w, h),
                                "plasma:fractal", "-attenuate", "%.2f" % (0.2 + rnd.random() * 0.4),
                                "+noise", "Gaussian", p))
        out.append((p, w, h))
    for j in jobs:
        j.result()
    return out


def cjpeg_options(rnd, quality, variants, restart):
    """cjpeg's options for one of its forms, drawn from rnd: the number of
    the form (0 plain, 1 progressive, 2 optimised, 3 restart markers, more
    for the caller) and the options."""
    opts = ["-quality", str(quality)]
    variant = rnd.randrange(variants)
    if variant == 1:
        opts.append("-progressive")
    elif variant == 2:
        opts.append("-optimize")
    elif variant == 3:
        opts += ["-restart", restart(rnd)]
    return variant, opts


def photo_plan(rnd, pics, quality=None):
    p, w, h = rnd.choice(pics)
    cw, ch = rnd.randrange(w * 4 // 5, w + 1), rnd.randrange(h * 4 // 5, h + 1)
    _, opts = cjpeg_options(rnd, quality or rnd.randrange(88, 99), 4, lambda r: "%dB" % r.randrange(1, 20))
    return "pamcut -left %d -top %d -width %d -height %d %s | cjpeg %s" % (
        rnd.randrange(w - cw + 1), rnd.randrange(h - ch + 1), cw, ch, p, " ".join(opts))


def make_photo(name, cmd, thumb_cmd, make, model, when):
    shell("%s > %s" % (cmd, name))
    if make:
        args = ["exiftool", "-q", "-q", "-overwrite_original", "-Make=" + make, "-Model=" + model,
                "-DateTimeOriginal=" + when, "-CreateDate=" + when, "-Orientation#=1", "-ExposureTime=1/125",
                "-FNumber=5.6", "-ISO=200"]
        if thumb_cmd:
            thumb = name + ".thumb"
            shell("%s > %s" % (thumb_cmd, thumb))
            args.append("-ThumbnailImage<=" + thumb)
        run(*args, name)
        if thumb_cmd:
            os.remove(thumb)


def audio(rnd, seconds, rate=44100):
    """Noise under a sweeping tone, as sox's arguments after the output file's name."""
    tone = rnd.choice(["sine", "square", "triangle"])
    return [str(rate), "synth", "%.2f" % seconds, rnd.choice(["pinknoise", "brownnoise", "whitenoise"]), "synth",
            "%.2f" % seconds, tone, "mix", "%d-%d" % (rnd.randrange(100, 900), rnd.randrange(900, 4000)), "vol",
            "%.2f" % (0.3 + rnd.random() * 0.5)]


def sox(out, sound):
    # -R: sox's noise from a fixed seed.
    run("sox", "-R", "-n", "-r", sound[0], "-c", "2", "-b", "16", out, *sound[1:])


def make_mp3(name, sound, lame_opts):
    wav = name + ".wav"
    sox(wav, sound)
    run("lame", "--quiet", *lame_opts, wav, name)
    os.remove(wav)


def pdf_bytes(pages):
    """A PDF whose pages hold a line of text and a JPEG each: (jpeg path, title) per page."""
    objs = []

    def add(body):
        objs.append(body)
        return len(objs)

    catalog = add(None)
    tree = add(None)
    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    kids = []
    for jpeg, title in pages:
        data = open(jpeg, "rb").read()
        w, h = jpeg_size(data)
        img = add(b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
                  b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n%s\nendstream" % (w, h, len(data), data))
        text = b"BT /F1 18 Tf 40 800 Td (%s) Tj ET q 515 0 0 %d 40 %d cm /Im0 Do Q" % (
            title.encode(), 515 * h // w, 780 - 515 * h // w)
        z = zlib.compress(text, 9)
        content = add(b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (len(z), z))
        kids.append(add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 %d 0 R >> "
                        b"/XObject << /Im0 %d 0 R >> >> /Contents %d 0 R >>" % (tree, font, img, content)))
    objs[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R >>" % tree
    objs[tree - 1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (i, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, catalog, xref)
    return bytes(out)


def jpeg_size(data):
    i = 2
    while i < len(data):
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    raise ValueError("no frame header")


def make_pdf(name, page_cmds, titles, how):
    pages = []
    for k, cmd in enumerate(page_cmds):
        jpeg = "%s.p%d.jpg" % (name, k)
        shell("%s > %s" % (cmd, jpeg))
        pages.append((jpeg, titles[k]))
    raw = name + ".raw"
    with open(raw, "wb") as f:
        f.write(pdf_bytes(pages))
    if how == "gs":
        # Ghostscript stamps its dates from SOURCE_DATE_EPOCH and leaves the photos as they are.
        run("gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=pdfwrite", "-dPassThroughJPEGImages=true",
            "-dAutoFilterColorImages=false", "-dColorImageFilter=/DCTEncode", "-dDownsampleColorImages=false",
            "-sOutputFile=" + name, raw, env=dict(os.environ, SOURCE_DATE_EPOCH=str(FIXED_TIME)))
    else:
        run("qpdf", "--deterministic-id", *how.split(), raw, name)
    os.remove(raw)
    for jpeg, _ in pages:
        os.remove(jpeg)


def make_zip(name, members, level):
    folder = name + ".d"
    os.makedirs(folder)
    names = []
    for k, (kind, cmd) in enumerate(members):
        member = os.path.join(folder, "%s%02d.%s" % ("IMG_" if kind == "jpg" else "REC_", k, kind))
        if kind == "jpg":
            shell("%s > %s" % (cmd, member))
        elif kind == "wav":
            sox(member, cmd)
        else:
            with open(member, "w") as f:
                f.write(cmd)
        os.utime(member, (FIXED_TIME, FIXED_TIME))
        names.append(os.path.basename(member))
    subprocess.run(["zip", "-q", "-X", "-%d" % level, os.path.abspath(name)] + names, cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, TZ="UTC"))
    shutil.rmtree(folder)


def make_files(work, out, budget, rnd):
    """(path, type, name pattern, label) of large media files adding up to about budget bytes."""
    jobs = []
    total_guess = 0
    n = 0
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        pics = bases(work, rnd, pool)
        # Choices are all drawn here, in order, before any tool runs: the
        # pool's order cannot change them.
        # Sizes are guessed ahead and the guesses run high; the files past
        # the budget are dropped once their real sizes are known.
        while total_guess < budget * 5 // 4:
            kind = KINDS[n % len(KINDS)]
            name = os.path.join(out, "f%05d.%s" % (n, kind))
            if kind == "jpg":
                cam = rnd.choice(CAMERAS) if rnd.randrange(4) else (None, None)
                when = "2024:%02d:%02d %02d:%02d:%02d" % (rnd.randrange(1, 13), rnd.randrange(1, 29),
                                                         rnd.randrange(24), rnd.randrange(60), rnd.randrange(60))
                thumb = ("pamcut -width 1600 -height 1200 %s | pnmscale -xsize 160 | cjpeg -quality 75"
                         % rnd.choice(pics)[0]) if cam[0] and rnd.randrange(2) else None
                jobs.append(pool.submit(make_photo, name, photo_plan(rnd, pics), thumb, cam[0], cam[1], when))
                total_guess += 4 << 20
                label = "JPG"
            elif kind == "mp3":
                seconds = 90 + rnd.random() * 150
                kbps = rnd.choice([128, 160, 192, 256])
                opts = ["-b", str(kbps)] if rnd.randrange(3) else ["-V", str(rnd.randrange(0, 5))]
                opts += ["--tt", "Track %d" % n, "--ta", "Velmora Bench", "--tl", "Card %d" % (n % 7),
                         "--ty", "2024", "--tn", str(n % 20 + 1)]
                opts.append(rnd.choice(["--add-id3v2", "--id3v2-only", "--id3v1-only"]))
                jobs.append(pool.submit(make_mp3, name, audio(rnd, seconds), opts))
                total_guess += int(seconds * kbps * 125)
                label = "MP3"
            elif kind == "wav":
                seconds = 15 + rnd.random() * 45
                rate = rnd.choice([22050, 44100, 48000])
                jobs.append(pool.submit(sox, name, audio(rnd, seconds, rate)))
                total_guess += int(seconds * rate * 4)
                label = "WAV"
            elif kind == "pdf":
                count = rnd.randrange(1, 6)
                cmds = [photo_plan(rnd, pics, rnd.randrange(60, 85)) for _ in range(count)]
                titles = ["Report %d page %d" % (n, k + 1) for k in range(count)]
                how = rnd.choice(["gs", "--linearize", "--object-streams=generate", "--stream-data=preserve"])
                jobs.append(pool.submit(make_pdf, name, cmds, titles, how))
                total_guess += count * (2 << 20)
                label = "PDF"
            else:
                members = []
                for _ in range(rnd.randrange(1, 4)):
                    k = rnd.randrange(3)
                    if k == 0:
                        members.append(("jpg", photo_plan(rnd, pics)))
                    elif k == 1:
                        members.append(("wav", audio(rnd, 5 + rnd.random() * 20, 22050)))
                    else:
                        members.append(("txt", "".join("line %d of note %d\n" % (i, n)
                                                       for i in range(rnd.randrange(100, 20000)))))
                jobs.append(pool.submit(make_zip, name, members, rnd.choice([0, 1, 6, 9])))
                total_guess += len(members) * (3 << 20)
                label = "ZIP"
            jobs[-1].entry = [name, label, "FILE", None]
            n += 1
        files = []
        total = 0
        for j in jobs:
            j.result()
            size = os.path.getsize(j.entry[0])
            if total + size > budget:
                os.remove(j.entry[0])
                continue
            total += size
            files.append(j.entry)
    return files
