#!/usr/bin/env python3
"""A deep scan of the 4 GiB whole-disk benchmark image through the application,
against the scan driver on the same image, in the same run.

The application is the real program installed into a scratch root (cmake
--install with DESTDIR), started as the launcher starts it (without pkexec)
on an X server of its own (Xvfb) and driven by object names through the walk
plugin of the end-to-end tests (tests/e2e/walk/WalkPlugin.cpp): the wizard's
deep-scan mode, the disk page's row of the image attached read-only to a loop
device, the scan button, then polling until the results browser shows its
end-of-scan controls (the selected-files text and the recover button, the
stop button gone). Its time runs from the click on the scan button to that
sight. Meanwhile the plugin's stall probe (a 5 ms timer on the main thread)
gives the longest time the browser's main loop was held; the peak memory is
the program's VmHWM (/proc/PID/status) at the scan's end.

The peer is `scan_driver --deep` on the image file (the same partition
controller and searchers, no windows), its own "scan" time. Both read from
the page cache: the image and the loop device are read once before, and the
loop device is held open throughout (a block device's cache is dropped at
its last close). Rounds
alternate driver and application.

Prints per round both times and their ratio, the longest stall and the peak
memory, then the medians and the machine's load average. Goals: ratio at
most 1.2, no stall over 100 ms, peak memory under 1.5 GiB.

Needs root (loop devices, a private /run/lock in a mount namespace of its
own, as tests/e2e does), Xvfb, and a Release build folder holding the
program, the launcher, the walk plugin and scan_driver:

  CC=clang CXX=clang++ cmake -S . -B build/rel -G Ninja -DVELMORA_BUILD_BENCH=ON \\
      -DCMAKE_BUILD_TYPE=Release
  cmake --build build/rel -j3 --target Tamsweld VexaLoader velmora_walk_plugin scan_driver

usage: app_deep_scan.py --build BUILD_DIR [--keep DIR] [--rounds N] [--shots DIR]"""
import argparse
import os
import re
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
MARK = "VELMORA_APP_BENCH_NAMESPACE"


class Walk:
    """One line out, one line back, to the walk plugin inside the program."""

    def __init__(self, path, limit=60):
        end = time.monotonic() + limit
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > end:
                    raise RuntimeError("the program never opened the walk socket")
                time.sleep(0.1)
        self.buffered = b""

    def ask(self, command, limit=20.0):
        self.sock.sendall(command.encode() + b"\n")
        self.sock.settimeout(limit)
        while b"\n" not in self.buffered:
            try:
                chunk = self.sock.recv(1 << 16)
            except (socket.timeout, OSError):
                return "error no answer"
            if not chunk:
                return "error no answer"
            self.buffered += chunk
        line, self.buffered = self.buffered.split(b"\n", 1)
        return line.decode("utf-8", "replace")

    def visible(self, name):
        return self.ask("find " + name, 5).startswith("ok 1 ")

    def wait(self, done, limit, step=0.1, what="a condition"):
        end = time.monotonic() + limit
        while not done():
            if time.monotonic() > end:
                raise RuntimeError("timed out waiting for " + what)
            time.sleep(step)


def rows_of(answer):
    """[(path, [columns])] of a "rows" answer."""
    if not answer.startswith("ok "):
        return []
    out = []
    for row in answer[3:].split(" ;; "):
        path, _, cols = row.partition("=")
        out.append((path, cols.split("|")))
    return out


def disk_row(answer, size):
    """The path of the top-level row of a disk of the image's size holding FAT32, exFAT and NTFS volumes
    (loop disks have neither model nor name to tell them apart)."""
    rows = rows_of(answer)
    want = "%.2f GB" % (size / 1e9)
    for path, cols in rows:
        if "/" in path or len(cols) < 2 or cols[1] != want:
            continue
        kinds = {c[2] for p, c in rows if p.startswith(path + "/") and len(c) > 2}
        if {"FAT32", "EXFAT", "NTFS"} <= kinds:
            return path
    return None


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def vm_hwm_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        m = re.search(r"VmHWM:\s+(\d+) kB", f.read())
    return int(m.group(1)) if m else 0


def cpu_seconds(stat_path):
    """User and system CPU seconds of a process or thread (/proc/.../stat)."""
    with open(stat_path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    tick = os.sysconf("SC_CLK_TCK")
    return int(fields[11]) / tick, int(fields[12]) / tick


def start_xvfb():
    r, w = os.pipe()
    x = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                         pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    with os.fdopen(r, "rb") as f:
        while not number.endswith(b"\n"):
            c = f.read(1)
            if not c:
                break
            number += c
    if not number.strip():
        x.kill()
        sys.exit("Xvfb did not start")
    return x, ":" + number.decode().strip()


def program_env(home, display, sock, build):
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_QPA_PLATFORM", "VELMORA_WORK_PATH", "PKEXEC_UID", "SUDO_UID", "SUDO_GID", "SUDO_USER",
                        "WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_GENERIC_PLUGINS", "QT_PLUGIN_PATH", MARK)}
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=home, LANG="C.UTF-8",
               DISPLAY=display, QT_PLUGIN_PATH=os.path.join(build, "tests", "qtplugins"),
               QT_QPA_GENERIC_PLUGINS="velmorawalk:" + sock)
    return env


def bytes_read(pid):
    """The bytes a process has read so far (rchar of /proc/PID/io: page-cache hits too)."""
    try:
        with open("/proc/%d/io" % pid) as f:
            return int(re.search(r"rchar: (\d+)", f.read()).group(1))
    except (OSError, AttributeError):
        return None


def first_time(timeline, at_least):
    """The first moment of a [(seconds, bytes read)] timeline with at least that many bytes read."""
    return next((t for t, n in timeline if n is not None and n >= at_least), float("nan"))


def driver_round(build, image, size):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = tempfile.TemporaryFile(mode="w+")
    driver = subprocess.Popen([os.path.join(build, "bin", "scan_driver"), "--deep", "--rounds", "1", image],
                              stdout=out, stderr=subprocess.STDOUT, env=dict(os.environ, TZ="UTC"))
    start = time.monotonic()
    timeline = []
    while driver.poll() is None:
        timeline.append((time.monotonic() - start, bytes_read(driver.pid)))
        time.sleep(0.05)
    out.seek(0)
    text = out.read()
    m = re.search(r"scan ([0-9.]+) s", text)
    peak = re.search(r"peak resident set (\d+) KiB", text)
    if driver.returncode != 0 or not m:
        sys.exit("scan_driver failed:\n" + text)
    nodes = sum(int(n) for n in re.findall(r"nodes of searcher \d+: (\d+)", text))
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    # The whole run's CPU (its plain read of the image too).
    cpu = (after.ru_utime - before.ru_utime, after.ru_stime - before.ru_stime)
    # Its plain read comes first; the scan's reading is the second image's worth.
    scan_start = first_time(timeline, size + (1 << 20))
    reading = (0.0, first_time(timeline, 2 * size - (64 << 20)) - scan_start)
    return float(m.group(1)), int(peak.group(1)) if peak else 0, nodes, cpu, reading


def app_round(app, build, loop, size, display, work, shots):
    home = tempfile.mkdtemp(prefix="home-", dir=work)
    os.chmod(home, 0o755)
    sock = os.path.join(home, "walk.sock")
    log = open(os.path.join(home, "program.log"), "w")
    program = subprocess.Popen([app, "en*loaderflag*"], env=program_env(home, display, sock, build),
                               stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    try:
        walk = Walk(sock)
        walk.wait(lambda: walk.visible("TypeXib"), 60, what="the mode page")
        if walk.ask("click completeButton") != "ok":
            raise RuntimeError("no deep-scan mode button")
        time.sleep(0.3)
        walk.ask("click backHomeButton")
        walk.wait(lambda: walk.visible("ListDiskXib"), 60, what="the disk page")
        row = [None, ""]

        def found():
            row[1] = walk.ask("rows outlineView")
            row[0] = disk_row(row[1], size)
            return row[0] is not None

        try:
            walk.wait(found, 60, step=0.5, what="the loop disk's row (%s) on the disk page" % loop)
        except RuntimeError as e:
            raise RuntimeError("%s; its rows: %s" % (e, row[1]))
        if walk.ask("clickrow outlineView " + row[0]) != "ok":
            raise RuntimeError("cannot click the disk's row")
        walk.wait(lambda: walk.visible("continueButton"), 20, what="the scan button")
        time.sleep(0.3)
        if shots:
            walk.ask("shot MainXib " + os.path.join(shots, "app_deep_scan_disk_page.png"))
        walk.ask("stall start")
        process_cpu = cpu_seconds("/proc/%d/stat" % program.pid)
        main_cpu = cpu_seconds("/proc/%d/task/%d/stat" % (program.pid, program.pid))
        walk.ask("click continueButton")
        start = time.monotonic()
        read_before = bytes_read(program.pid) or 0
        timeline = []
        shot_taken = False

        def ended():
            nonlocal shot_taken
            if shots and not shot_taken and time.monotonic() - start > 3 and walk.visible("ExhibitionXib"):
                walk.ask("shot ExhibitionXib " + os.path.join(shots, "app_deep_scan_scanning.png"))
                shot_taken = True
            timeline.append((time.monotonic() - start, bytes_read(program.pid)))
            return walk.visible("selectFilesLabel") and walk.visible("recovertyButton") and \
                not walk.visible("stopButton")

        walk.wait(ended, 1800, step=0.05, what="the scan's end in the browser")
        seconds = time.monotonic() - start
        # When the scan read its first and last blocks, after the click.
        reading = (first_time(timeline, read_before + (1 << 20)), first_time(timeline, read_before + size - (64 << 20)))
        stall = walk.ask("stall")
        process_cpu = [b - a for a, b in zip(process_cpu, cpu_seconds("/proc/%d/stat" % program.pid))]
        main_cpu = [b - a for a, b in zip(main_cpu, cpu_seconds("/proc/%d/task/%d/stat" % (program.pid, program.pid)))]
        peak = vm_hwm_kib(program.pid)
        found_text = walk.ask("text selectFilesLabel")
        if shots:
            walk.ask("shot ExhibitionXib " + os.path.join(shots, "app_deep_scan_ended.png"))
        m = re.match(r"ok ([0-9.]+) (\d+)", stall)
        if not m:
            raise RuntimeError("no stall figure: " + stall)
        # Out without saving: quit, then leave every question with its other button.
        walk.ask("quit", 5)
        end = time.monotonic() + 60
        while program.poll() is None and time.monotonic() < end:
            for button in ("alertOtherButton", "alertDefaultButton"):
                if walk.visible(button):
                    walk.ask("click " + button, 2)
                    break
            time.sleep(0.2)
        return seconds, float(m.group(1)), int(m.group(2)), peak, found_text[3:], process_cpu, main_cpu, reading
    except (RuntimeError, OSError) as e:
        log.flush()
        sys.exit("%s\n--- program output ---\n%s" % (e, open(log.name).read()[-4000:]))
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        log.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="a Release build folder (bin/scan_driver, the program)")
    ap.add_argument("--keep", help="make (or reuse) the image here and keep it")
    ap.add_argument("--rounds", type=int, default=1)
    ap.add_argument("--shots", help="write pictures of the disk page and the browser here")
    a = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit("needs root (loop devices, a private /run/lock)")
    if shutil.which("Xvfb") is None:
        sys.exit("Xvfb is missing (scripts/install-deps.sh)")
    if os.environ.get(MARK) != "1":
        # A /run/lock of our own, so that another copy of the program on this
        # machine does not hold the single-instance lock (as tests/e2e does).
        os.execvpe("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable] + sys.argv,
                   dict(os.environ, **{MARK: "1"}))
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777,size=1m", "tmpfs", "/run/lock"], check=True)

    build = os.path.abspath(a.build)
    work = tempfile.mkdtemp(prefix="app_deep_scan-")
    os.chmod(work, 0o755)
    image_dir = a.keep or os.path.join(work, "image")
    os.makedirs(image_dir, exist_ok=True)
    image = os.path.join(image_dir, "wholedisk_bench.img")
    if not os.path.exists(image):
        print("making the 4 GiB disk (a few minutes)...", flush=True)
        subprocess.run([sys.executable, os.path.join(SOURCE, "tests", "fixtures", "wholedisk", "make.py"), image_dir,
                        "--bench"], check=True)
    root = os.path.join(work, "root")
    subprocess.run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=root),
                   stdout=subprocess.DEVNULL, check=True)
    app = os.path.join(root, "usr", "lib", "tamsweld", "Tamsweld")
    if a.shots:
        os.makedirs(a.shots, exist_ok=True)

    loop = subprocess.run(["losetup", "--find", "--show", "--read-only", image], stdout=subprocess.PIPE, text=True,
                          check=True).stdout.strip()
    x, display = start_xvfb()
    rows = []
    holder = None
    try:
        # Both sides from the page cache. A block device's cache is dropped
        # at its last close, so the loop device stays open here throughout.
        holder = os.open(loop, os.O_RDONLY | os.O_CLOEXEC)
        for path in (image, loop):
            subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)
        print("image %s (%d MiB) on %s, load average %s" % (image, os.path.getsize(image) >> 20, loop,
                                                           load_average()), flush=True)
        for n in range(a.rounds):
            d, d_peak, nodes, d_cpu, d_reading = driver_round(build, image, os.path.getsize(image))
            s, stall, ticks, peak, found, cpu, main_cpu, reading = app_round(app, build, loop, os.path.getsize(image), display, work, a.shots)
            rows.append((d, s, stall, peak))
            print("round %d: scan driver %.2f s (peak %d MiB, %d nodes); application %.2f s (%.2fx), longest "
                  "stall %.1f ms over %d ticks, peak memory %d MiB; browser: %s; load average %s"
                  % (n + 1, d, d_peak >> 10, nodes, s, s / d, stall, ticks, peak >> 10, found, load_average()),
                  flush=True)
            print("  CPU user/system: scan driver %.2f/%.2f s (with its plain read); application %.2f/%.2f s, "
                  "of it the main thread %.2f/%.2f s" % (d_cpu + tuple(cpu) + tuple(main_cpu)), flush=True)
            print("  reading the image: scan driver from %.2f to %.2f s of its scan; application from %.2f to %.2f s "
                  "after the click" % (d_reading + reading), flush=True)
    finally:
        if holder is not None:
            os.close(holder)
        x.terminate()
        x.wait()
        subprocess.run(["losetup", "--detach", loop])
        subprocess.run(["umount", "/run/lock"])
        shutil.rmtree(work, ignore_errors=True)
    d = statistics.median(r[0] for r in rows)
    s = statistics.median(r[1] for r in rows)
    stall = max(r[2] for r in rows)
    peak = max(r[3] for r in rows)
    print("median: scan driver %.2f s, application %.2f s, ratio %.2f (goal 1.2); longest stall %.1f ms (goal "
          "100); peak memory %d MiB (goal 1536)" % (d, s, s / d, stall, peak >> 10))
    return 0 if s / d <= 1.2 and stall <= 100 and peak < 1536 << 10 else 1


if __name__ == "__main__":
    sys.exit(main())
