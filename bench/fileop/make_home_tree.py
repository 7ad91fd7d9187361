#!/usr/bin/env python3
"""Builds a synthetic tree of users' home folders for the copy benchmark.

Each user folder holds about 100 files of 1-64 KiB (log-uniform, median about
8 KiB) in Documents, Desktop, Pictures, Downloads and AppData, an empty Music
folder and, with --big-mean > 0, a few 1-20 MiB videos and archives. Names
carry spaces and umlauts, file times lie in the past, contents are random
(incompressible). The same seed gives the same tree.

    make_home_tree.py ROOT [--users 300] [--big-mean 0.9] [--seed 7]
"""
import argparse
import math
import os
import random
import sys
import time

KIB = 1024
MIB = 1024 * KIB

FOLDERS = {  # folder -> small files per user
    "Documents/Schule": 20, "Documents/Projekte": 15, "Documents/Briefe": 10,
    "Desktop": 10, "Pictures/Klassenfahrt 2023": 15, "Downloads": 8,
}
WORDS = ["Aufsatz", "Referat", "Notizen", "Hausaufgabe", "Präsentation", "Bericht",
         "Übung", "Mathe", "Biologie", "Erdkunde", "essay", "worksheet"]
EXTS = [".docx", ".xlsx", ".pptx", ".pdf", ".txt", ".odt", ".jpg", ".png"]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("root")
    ap.add_argument("--users", type=int, default=300)
    ap.add_argument("--big-mean", type=float, default=0.9, help="mean count of 1-20 MiB files per user")
    ap.add_argument("--seed", type=int, default=7)
    a = ap.parse_args()
    if os.path.isdir(a.root) and os.listdir(a.root):
        sys.exit(f"{a.root} exists and is not empty")

    rng = random.Random(a.seed)
    pool = random.Random(a.seed + 1).randbytes(24 * MIB)
    view = memoryview(pool)
    now = time.time()
    stats = {"files": 0, "bytes": 0, "dirs": 0}

    def put(path, size):
        start = rng.randrange(0, len(pool) - 1)
        with open(path, "wb", buffering=0) as f:
            left = size
            while left:
                n = min(left, len(pool) - start)
                f.write(view[start:start + n])
                left -= n
                start = 0
        when = now - rng.uniform(86400, 4 * 365 * 86400)
        os.utime(path, (when, when))
        stats["files"] += 1
        stats["bytes"] += size

    def folder(path):
        os.makedirs(path, exist_ok=True)
        stats["dirs"] += 1

    t0 = time.time()
    for u in range(1, a.users + 1):
        home = os.path.join(a.root, f"u{u:04d}")
        for sub, count in FOLDERS.items():
            folder(os.path.join(home, sub))
            for i in range(count):
                name = f"{rng.choice(WORDS)} {i:03d}{rng.choice(EXTS)}"
                put(os.path.join(home, sub, name), int(KIB * 2 ** rng.uniform(0, 6)))
        for k in (1, 2, 3):
            app = os.path.join(home, "AppData", "Roaming", f"App{k}")
            folder(app)
            for i in range(7 + (k == 1)):
                put(os.path.join(app, f"settings{i}.ini"), rng.randint(KIB, 4 * KIB))
        folder(os.path.join(home, "Music"))
        # Poisson-distributed count of big files, at most 6.
        big, p, acc, x = 0, math.exp(-a.big_mean), math.exp(-a.big_mean), rng.random()
        while a.big_mean > 0 and x > acc and big < 6:
            big += 1
            p *= a.big_mean / big
            acc += p
        for i in range(big):
            where = "Downloads" if i % 3 == 2 else "Pictures/Klassenfahrt 2023"
            ext = ".mp4" if i % 2 == 0 else ".zip"
            put(os.path.join(home, where, f"Video {i:02d}{ext}"), rng.randint(MIB, 20 * MIB))
    os.sync()
    print(f"{a.root}: {a.users} users, {stats['dirs']} folders, {stats['files']} files, "
          f"{stats['bytes'] / MIB:.0f} MiB in {time.time() - t0:.1f} s")


if __name__ == "__main__":
    main()
