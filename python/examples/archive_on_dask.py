#!/usr/bin/env python3
"""Checks and converts an archive of frames on Dask.

With no --scheduler, a LocalCluster of one worker process with two threads
is started on this machine and closed at the end:

    python3 archive_on_dask.py FRAMES_FOLDER OUT_FOLDER

With --scheduler, the job goes to a running cluster, e.g. one started with
``dask-scheduler`` on host and ``dask-worker tcp://host:8786 --nworkers 1
--nthreads 4`` on each machine (with quill32 installed there, and the
folders on storage every worker sees at the same path):

    python3 archive_on_dask.py --scheduler tcp://host:8786 /archive/frames /archive/png

Prints a line per file that is no good frame and a summary; exits 1 if any
file failed.
"""

import argparse
import logging
import sys
from pathlib import Path

from dask.distributed import Client, LocalCluster

from quill32 import archive


def run(client, frames, out_dir, size, root):
    # One inspect() report per file, as `quill info --json` gives them.
    reports = archive.verify(frames, client=client)
    for report in reports:
        if "error" in report:
            print("%s: %s" % (report["file"], report["error"]))
        elif report["damaged"]:
            print("%s: damaged: %s" % (report["file"], "; ".join(report["problems"])))
    # One output path per file (the folders below root mirrored below
    # out_dir), or the FileError that tells why it failed.
    results = archive.convert(frames, out_dir, size=size, client=client, root=root)
    failed = [r for r in results if isinstance(r, archive.FileError)]
    for error in failed:
        print(error)
    print("%d of %d frames converted into %s" % (len(results) - len(failed), len(results), out_dir))
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description="Check and convert frames on Dask.")
    parser.add_argument("frames", help="a folder of .yuv frames (walked) or one frame")
    parser.add_argument("out_dir")
    parser.add_argument("--scheduler", help="address of a running scheduler, e.g. tcp://host:8786")
    parser.add_argument("--size", choices=("320x240", "640x480"), default="320x240")
    opts = parser.parse_args()
    top = Path(opts.frames)
    frames = sorted(str(p) for p in top.rglob("*.yuv")) if top.is_dir() else [str(top)]
    size = tuple(int(n) for n in opts.size.split("x"))
    root = top if top.is_dir() else top.parent

    if opts.scheduler:
        with Client(opts.scheduler) as client:
            return run(client, frames, opts.out_dir, size, root)
    # One worker process whose threads decode side by side: each thread has
    # its own codec context, and the calls release the GIL.
    with LocalCluster(n_workers=1, threads_per_worker=2, processes=True,
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
            Client(cluster) as client:
        return run(client, frames, opts.out_dir, size, root)


if __name__ == "__main__":  # needed: the cluster's worker process is spawned
    sys.exit(main())
