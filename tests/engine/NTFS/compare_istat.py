#!/usr/bin/env python3
"""Compares what our NTFS record library read from every file record of an
image (a TSV written by the tests) with what Sleuth Kit's istat shows for the
same records, and checks that every record Sleuth Kit lists as in use was
read. Exit 0 when they agree, 1 with the differences listed.

usage: compare_istat.py IMAGE DUMP.tsv CLUSTER_BYTES

DUMP columns: record, in use (0/1), folder (0/1), names ("parent/name"
joined by U+001F), data size, runs ("R" for resident data, else "lcn+len"
joined by ",", lcn -1 for sparse runs, "-" for none)."""
import re
import subprocess
import sys


def istat(image, record):
    out = subprocess.run(["istat", "-r", "-f", "ntfs", image, str(record)], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL).stdout.decode("utf-8", errors="replace")
    info = {"allocated": None, "dir": None, "names": set(), "size": 0, "runs": "-"}
    lines = out.splitlines()
    for line in lines[:6]:
        m = re.match(r"^(Not )?Allocated (File|Directory)", line)
        if m:
            info["allocated"] = m.group(1) is None
            info["dir"] = m.group(2) == "Directory"
    name = None
    for line in lines:
        if line.startswith("Name: "):
            name = line[len("Name: "):]
        m = re.match(r"^Parent MFT Entry: (\d+)", line)
        if m and name is not None:
            info["names"].add("%s/%s" % (m.group(1), name))
            name = None
    data = False
    runs = []
    for line in lines:
        m = re.match(r"^Type: \$DATA \(128-\d+\)\s+Name: N/A\s+(Resident|Non-Resident)[^ ]*.*size: (\d+)", line)
        if m and not data and info["runs"] == "-":
            data = True
            info["size"] = int(m.group(2))
            if m.group(1) == "Resident":
                info["runs"] = "R"
                data = False
            continue
        if data:
            r = re.match(r"^\s+Starting address: (\w+), length: (\d+)", line)
            if r:
                runs.append("%s+%s" % (-1 if r.group(1) == "X" else int(r.group(1)), r.group(2)))
                continue
            info["runs"] = ",".join(runs) if runs else "-"
            data = False
    if data:
        info["runs"] = ",".join(runs) if runs else "-"
    return info


def merged(runs, clusters):
    """Adjacent runs joined, as readers may split or join them, cut to the
    clusters the data fills (Sleuth Kit leaves out the rest of the last
    compression unit and of the allocation)."""
    if runs in ("-", "R"):
        return runs
    out = []
    left = clusters
    for r in runs.split(","):
        if left <= 0:
            break
        lcn, length = (int(x) for x in r.split("+"))
        length = min(length, left)
        left -= length
        if out and ((lcn == -1 and out[-1][0] == -1) or (lcn >= 0 and out[-1][0] >= 0 and out[-1][0] + out[-1][1] == lcn)):
            out[-1][1] += length
        else:
            out.append([lcn, length])
    return ",".join("%d+%d" % tuple(x) for x in out)


def main(image, dump, cluster):
    errors = []
    ours = {}
    with open(dump, encoding="utf-8") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            rec, inuse, folder, names, size, runs = cols
            ours[int(rec)] = (inuse == "1", folder == "1", set(n for n in names.split("\x1f") if n), int(size), runs)
    for rec, (inuse, folder, names, size, runs) in sorted(ours.items()):
        t = istat(image, rec)
        where = "record %d" % rec
        if t["allocated"] is None:
            errors.append(where + ": istat shows nothing")
            continue
        if t["allocated"] != inuse:
            errors.append("%s: in use %s, istat %s" % (where, inuse, t["allocated"]))
        if t["dir"] != folder:
            errors.append("%s: folder %s, istat %s" % (where, folder, t["dir"]))
        if t["names"] != names:
            errors.append("%s: names %s, istat %s" % (where, sorted(names), sorted(t["names"])))
        need = (size + cluster - 1) // cluster
        if not folder and (t["size"] != size or merged(t["runs"], need) != merged(runs, need)):
            errors.append("%s: data %d %s, istat %d %s" % (where, size, runs, t["size"], t["runs"]))
    listing = subprocess.run(["fls", "-r", "-p", "-f", "ntfs", image], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout.decode("utf-8", errors="replace")
    for line in listing.splitlines():
        m = re.match(r"^(\S)/(\S) (\*? ?)(\d+)-\d+-\d+:\t(.*)$", line)
        if not m or m.group(3).strip() == "*":
            continue
        rec = int(m.group(4))
        if rec not in ours or not ours[rec][0]:
            errors.append("fls lists %s (record %d) in use; we did not read it" % (m.group(5), rec))
    for e in errors:
        print("FAIL " + e)
    print("%s: %d records compared, %d differences" % (image, len(ours), len(errors)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], int(sys.argv[3])))
