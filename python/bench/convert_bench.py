#!/usr/bin/env python3
"""Frames per second of quill32.archive.convert: in this thread, on the
local thread pool (the default), on the local process pool and on Dask
LocalClusters (two one-thread workers; one two-thread worker), beside
``quill decode -j`` on the same frames into the same kind of files.

Every repetition runs each case once, in a shuffled order, so that a change
in the machine's speed falls on all of them alike; medians are reported,
with the fastest and slowest run as the noise.
A case's time is what its caller waits: the local pool's start (its
workers are spawned afresh by each call) is in it; the cluster is started
once, before the timing, as a long-lived cluster is.

Usage (with the package installed, e.g. by scripts/test_python.sh):
    build/python-venv/bin/python python/bench/convert_bench.py \\
        [--quill build/release/tools/quill] [--frames 400] [--reps 5] \\
        [--size 320x240] [--fmt png]
"""

import argparse
import logging
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import quill32
from quill32 import archive

TREE = Path(__file__).resolve().parents[2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quill", default=str(TREE / "build" / "release" / "tools" / "quill"))
    parser.add_argument("--frames", type=int, default=400)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--size", choices=("320x240", "640x480"), default="320x240")
    parser.add_argument("--fmt", choices=archive.FORMATS, default="png")
    parser.add_argument("--only", help="run only the cases whose name holds this text")
    parser.add_argument("--work", help="folder for the frames and outputs (default: a temporary one)")
    opts = parser.parse_args()
    if not os.access(opts.quill, os.X_OK):
        sys.exit("convert_bench.py: %s: no quill tool there (build it: cmake -S . -B build/release "
                 "-DCMAKE_BUILD_TYPE=Release && cmake --build build/release --target quill)"
                 % opts.quill)
    size = tuple(int(n) for n in opts.size.split("x"))
    cpus = os.cpu_count() or 1

    work = Path(opts.work or tempfile.mkdtemp(prefix="quill32-bench-"))
    frames = work / "frames"
    shutil.rmtree(frames, ignore_errors=True)
    frames.mkdir(parents=True)
    samples = sorted((TREE / "samples").glob("**/*.yuv"))
    paths = []
    for i in range(opts.frames):
        paths.append(str(frames / ("%05d.yuv" % i)))
        shutil.copyfile(samples[i % len(samples)], paths[-1])

    def quill_case(jobs):
        def run(out):
            subprocess.run([opts.quill, "decode", "-q", "-j", str(jobs), "--size", opts.size,
                            "--format", opts.fmt, "-d", out, *paths], check=True)
        return run

    def convert_case(**where):
        def run(out):
            results = archive.convert(paths, out, size=size, fmt=opts.fmt, **where)
            failed = [r for r in results if isinstance(r, archive.FileError)]
            if failed:
                sys.exit("convert_bench.py: %s" % failed[0])
        return run

    cases = {
        "quill decode -j 1": quill_case(1),
        "quill decode -j %d" % cpus: quill_case(cpus),
        "convert, one thread": convert_case(threads=1),
        "convert, %d threads" % cpus: convert_case(threads=cpus),
        "convert, %d processes" % cpus: convert_case(processes=cpus),
    }
    clusters = []
    try:
        import distributed
    except ImportError:
        print("no dask.distributed: the cluster case is left out", file=sys.stderr)
    else:
        for workers, threads in ((2, 1), (1, 2)):
            cluster = distributed.LocalCluster(n_workers=workers, threads_per_worker=threads,
                                               processes=True, dashboard_address=None,
                                               silence_logs=logging.ERROR)
            clusters.append((cluster, distributed.Client(cluster)))
            name = "convert, LocalCluster %dx%d" % (workers, threads)
            cases[name] = convert_case(client=clusters[-1][1])

    if opts.only:
        cases = {n: c for n, c in cases.items() if opts.only in n or n.endswith("one thread")}
    times = {name: [] for name in cases}
    try:
        for rep in range(opts.reps + 1):  # the first round warms caches up, untimed
            order = list(cases)
            random.shuffle(order)
            for name in order:
                out = work / "out"
                shutil.rmtree(out, ignore_errors=True)
                start = time.perf_counter()
                cases[name](str(out))
                seconds = time.perf_counter() - start
                if rep:
                    times[name].append(seconds)
    finally:
        for cluster, client in clusters:
            client.close()
            cluster.close()
        if not opts.work:
            shutil.rmtree(work, ignore_errors=True)

    print("%d frames -> %s %s, median of %d runs; quill32 %s, vector level %s, %d processors"
          % (opts.frames, opts.size, opts.fmt, opts.reps, quill32.__version__,
             quill32.vector_level(), cpus))
    print("%-28s %9s %10s %17s" % ("case", "seconds", "frames/s", "fastest-slowest"))
    for name, seconds in times.items():
        median = statistics.median(seconds)
        print("%-28s %9.3f %10.0f %8.3f-%.3f s"
              % (name, median, opts.frames / median, min(seconds), max(seconds)))
    one, pool = "convert, one thread", "convert, %d threads" % cpus
    procs = "convert, %d processes" % cpus
    if not {one, pool, procs} <= set(times):
        return
    print("threads / one thread: %.2fx; threads / processes: %.2fx (above 1: threads faster)"
          % (statistics.median(times[one]) / statistics.median(times[pool]),
             statistics.median(times[procs]) / statistics.median(times[pool])))


if __name__ == "__main__":
    main()
