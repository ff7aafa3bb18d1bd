#!/usr/bin/env python3
"""Decoding frames from Python threads: a ThreadPoolExecutor of 2 (or
--threads) against one thread, over the same frames held in memory.

Each repetition times both cases once, in a shuffled order, so that a change
in the machine's speed falls on both alike. Printed: the median seconds of
each, the fastest and slowest run (the noise), the processor time the
process used (equal in both cases when the threads add no work of their
own), and the speed-up of the medians. Decodes go into one out= array per worker, as a pipeline that
reuses its buffers does; --fresh gives every decode a new array.

Usage (with the package installed, e.g. by scripts/test_python.sh):
    build/python-venv/bin/python python/bench/threads_bench.py \\
        [--frames 400] [--reps 31] [--chunk 4] [--threads 2] [--size 320x240] [--fresh]
"""

import argparse
import os
import random
import statistics
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np

import quill32

TREE = Path(__file__).resolve().parents[2]


def decoder(size, fresh):
    """decode(frame) for one worker thread: into its own out= array."""
    buffers = threading.local()
    shape = (size[1], size[0], 3)

    def decode(frame):
        if fresh:
            return quill32.decode(frame, size)
        out = getattr(buffers, "out", None)
        if out is None:
            out = buffers.out = np.empty(shape, np.uint8)
        return quill32.decode(frame, size, out=out)

    return decode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames", type=int, default=400)
    parser.add_argument("--reps", type=int, default=31)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--size", choices=("320x240", "640x480"), default="320x240")
    parser.add_argument("--chunk", type=int, default=4, help="frames a pool task decodes")
    parser.add_argument("--fresh", action="store_true", help="a new array for every decode")
    opts = parser.parse_args()
    size = tuple(int(n) for n in opts.size.split("x"))
    samples = sorted((TREE / "samples").glob("**/*.yuv"))
    frames = [samples[i % len(samples)].read_bytes() for i in range(opts.frames)]
    decode = decoder(size, opts.fresh)

    def one_thread():
        for frame in frames:
            decode(frame)

    pool = ThreadPoolExecutor(opts.threads)

    def threads():
        # A few frames a task: the pool's per-task cost stays small beside
        # the decodes, and the last task leaves the other threads idle for
        # a short while only.
        chunk = opts.chunk
        parts = [frames[i : i + chunk] for i in range(0, len(frames), chunk)]
        list(pool.map(lambda part: [decode(f) for f in part], parts))

    cases = {"one thread": one_thread, "ThreadPoolExecutor(%d)" % opts.threads: threads}
    times = {name: [] for name in cases}
    cpu = {name: [] for name in cases}
    for rep in range(opts.reps + 1):  # the first round warms up, untimed
        order = list(cases)
        random.shuffle(order)
        for name in order:
            start, start_cpu = time.perf_counter(), time.process_time()
            cases[name]()
            if rep:
                times[name].append(time.perf_counter() - start)
                cpu[name].append(time.process_time() - start_cpu)
    pool.shutdown()

    print("%d frames decoded to %s%s, median of %d runs; quill32 %s, vector level %s, %d processors"
          % (opts.frames, opts.size, " (fresh arrays)" if opts.fresh else " (out= reused)",
             opts.reps, quill32.__version__, quill32.vector_level(), os.cpu_count() or 1))
    for name, seconds in times.items():
        median = statistics.median(seconds)
        print("%-24s %8.4f s %8.0f frames/s   fastest-slowest %.4f-%.4f s   cpu %.4f s"
              % (name, median, opts.frames / median, min(seconds), max(seconds),
                 statistics.median(cpu[name])))
    medians = [statistics.median(t) for t in times.values()]
    print("speed-up: %.2fx (target 1.8x)" % (medians[0] / medians[1]))


if __name__ == "__main__":
    main()
