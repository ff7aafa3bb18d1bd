#!/usr/bin/env python3
"""The archive job end to end: frames -> PNG files with `quill decode`, timed
as a user runs it (reading, decoding, compressing, writing durably), against
Pillow saving the same pictures as PNG into memory, in one run.

Every repetition runs each case once, in a shuffled order, so that a change
in the machine's speed falls on all of them alike; medians are reported.
Usage: archive_bench.py QUILL [--frames N] [--reps R] [--memory]
"""
import argparse
import io
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PHOTOS = sorted(
    [os.path.join(ROOT, "samples", "photos", f) for f in os.listdir(os.path.join(ROOT, "samples", "photos"))
     if f.endswith(".yuv")] + [os.path.join(ROOT, "samples", "busy.yuv")])


def run(args):
    """Runs a command; its wall time in seconds and its peak memory in KiB."""
    start = time.perf_counter()
    child = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    err = child.stderr.read().decode()
    child.stderr.close()
    if status != 0:
        sys.exit(f"failed: {' '.join(args)}\n{err}")
    return seconds, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quill")
    parser.add_argument("--frames", type=int, default=200)
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--memory", action="store_true", help="also the peak memory of 1,000 and 10,000 frames")
    opts = parser.parse_args()
    work = os.path.join(ROOT, "build", "archive-bench")
    shutil.rmtree(work, ignore_errors=True)
    frames = os.path.join(work, "frames")
    os.makedirs(frames)
    names = []
    for i in range(opts.frames):
        name = os.path.join(frames, f"{i:05d}.yuv")
        shutil.copyfile(PHOTOS[i % len(PHOTOS)], name)
        names.append(name)
    jobs = os.cpu_count() or 1
    out = os.path.join(work, "out")

    # The pictures Pillow saves: the same decoded pixels.
    pictures = {}
    sizes = {}
    for size in ("320x240", "640x480"):
        pictures[size] = []
        for photo in PHOTOS:
            png = os.path.join(work, f"{os.path.basename(photo)}-{size}.png")
            subprocess.run([opts.quill, "decode", "-q", photo, "--size", size, "-o", png], check=True)
            with Image.open(png) as im:
                pictures[size].append(im.convert("RGB"))
            sizes[(size, os.path.basename(photo), "quill")] = os.path.getsize(png)
            for level in (1, 6):
                buf = io.BytesIO()
                pictures[size][-1].save(buf, format="PNG", compress_level=level)
                sizes[(size, os.path.basename(photo), f"pillow{level}")] = len(buf.getvalue())

    cases = []
    for size in ("320x240", "640x480"):
        for j in sorted({1, jobs}):
            for sync in (("batch", "each", "none") if j == 1 else ("batch",)):
                cases.append(("quill", size, j, sync))
        cases.append(("pillow", size, 1, None))
    times = {c: [] for c in cases}
    for _ in range(opts.reps):
        random.shuffle(cases)
        for case in cases:
            kind, size, j, sync = case
            if kind == "pillow":
                pics = pictures[size]
                start = time.perf_counter()
                for i in range(opts.frames):
                    pics[i % len(pics)].save(io.BytesIO(), format="PNG", compress_level=1)
                times[case].append(time.perf_counter() - start)
            else:
                shutil.rmtree(out, ignore_errors=True)
                seconds, _ = run([opts.quill, "decode", "-q", "-j", str(j), "--sync", sync,
                                  "--size", size, "-d", out] + names)
                times[case].append(seconds)

    def per_frame(case):
        return 1000 * statistics.median(times[case]) / opts.frames

    def spread(case):
        t = sorted(times[case])
        return 100 * (t[-1] - t[0]) / statistics.median(t)

    cpu = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(l.split(":", 1)[1].strip() for l in f if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    print(f"{opts.frames} frames ({len(PHOTOS)} photos in turn), {opts.reps} repetitions, {jobs} processors, {cpu}")
    print(f"{'case':42} {'ms/frame':>9} {'spread':>7}")
    for size in ("320x240", "640x480"):
        for case in sorted(c for c in times if c[1] == size and c[0] == "quill"):
            _, _, j, sync = case
            print(f"  {size} quill -j {j} --sync {sync:28}"[:44] + f" {per_frame(case):8.2f} {spread(case):6.0f}%")
        p = ("pillow", size, 1, None)
        print(f"  {size} Pillow compress_level=1 into memory".ljust(44) + f" {per_frame(p):8.2f} {spread(p):6.0f}%")
    print("ratios (target):")
    for size in ("320x240", "640x480"):
        j1 = per_frame(("quill", size, 1, "batch"))
        pil = per_frame(("pillow", size, 1, None))
        print(f"  {size} quill -j 1 / Pillow level 1: {j1 / pil:.2f}" + (" (<= 0.5)" if size == "320x240" else ""))
        if jobs > 1:
            jn = per_frame(("quill", size, jobs, "batch"))
            print(f"  {size} -j {jobs} speed-up over -j 1: {j1 / jn:.2f}" + (" (>= 1.7)" if jobs == 2 else "")
                  + f"; {jn * jobs:.2f} ms a frame per core")
        total_q = sum(v for k, v in sizes.items() if k[0] == size and k[2] == "quill")
        total_p = sum(v for k, v in sizes.items() if k[0] == size and k[2] == "pillow6")
        worst = max((sizes[(size, n, "quill")] / sizes[(size, n, "pillow6")], n)
                    for (s, n, kind) in sizes if s == size and kind == "quill")
        print(f"  {size} PNG size / Pillow level 6: {total_q / total_p:.3f} over all photos (<= 1.06), "
              f"largest {worst[0]:.3f} ({worst[1]})")
    if opts.memory:
        for count in (1000, 10000):
            many = os.path.join(work, f"many{count}")
            os.makedirs(many)
            for i in range(count):
                os.link(names[i % len(names)], os.path.join(many, f"{i:05d}.yuv"))
            shutil.rmtree(out, ignore_errors=True)
            seconds, peak = run([opts.quill, "decode", "-q", "-r", many, "-d", out])
            print(f"  {count} frames: {seconds:.1f} s, peak memory {peak / 1024:.1f} MiB")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
