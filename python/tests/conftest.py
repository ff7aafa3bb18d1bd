"""Shared fixtures: the tree's samples, the quill tool (whose outputs the
package must match), a 2-worker Dask cluster; and a time limit on every
test, so that a hang fails the test instead of blocking the run."""

import faulthandler
import logging
import os
import signal
import subprocess
import sys
from pathlib import Path

import pytest

TREE = Path(__file__).resolve().parents[2]
SAMPLES = sorted(TREE.glob("samples/**/*.yuv"))
PICTURES = sorted(TREE.glob("samples/*.bmp"))

# Seconds a test may take, its fixtures' setting up and tearing down
# included. Past the limit the test fails with every thread's stack on
# stderr; if the failure cannot unwind (a pool that waits for a hung child
# as it shuts down), the run exits a minute later.
LIMIT = float(os.environ.get("QUILL32_TEST_LIMIT", "120"))


class TimeLimit(Exception):
    pass


def _over_time(signum, frame):
    faulthandler.dump_traceback(file=sys.stderr, all_threads=True)
    raise TimeLimit("over the limit of %g s (QUILL32_TEST_LIMIT)" % LIMIT)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item, nextitem):
    previous = signal.signal(signal.SIGALRM, _over_time)
    signal.setitimer(signal.ITIMER_REAL, LIMIT)
    faulthandler.dump_traceback_later(LIMIT + 60, exit=True)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        faulthandler.cancel_dump_traceback_later()
        signal.signal(signal.SIGALRM, previous)


def _quill_path():
    wanted = os.environ.get("QUILL")
    if wanted:
        if not os.access(wanted, os.X_OK):
            raise RuntimeError("QUILL=%s is not an executable" % wanted)
        return wanted
    built = TREE / "build" / "gcc" / "tools" / "quill"
    return str(built) if os.access(built, os.X_OK) else None


@pytest.fixture(scope="session")
def quill():
    """Runs the quill tool: quill(*args) -> stdout bytes (exit 0 or 1 taken)."""
    path = _quill_path()
    if path is None:
        pytest.skip("no quill tool: build it (build/gcc/tools/quill) or set QUILL")

    def run(*args, ok=(0,)):
        done = subprocess.run([path, *map(str, args)], capture_output=True, timeout=120)
        assert done.returncode in ok, done.stderr.decode(errors="replace")
        return done.stdout

    return run


@pytest.fixture(scope="session")
def frames():
    assert len(SAMPLES) >= 8, "samples missing from %s" % TREE
    assert any(p.parent.name == "photos" for p in SAMPLES), "no samples/photos"
    # The tool's outputs for all of them go into one folder, named by stem.
    assert len({p.stem for p in SAMPLES}) == len(SAMPLES), "two samples share a name"
    return {p: p.read_bytes() for p in SAMPLES}


@pytest.fixture(scope="session")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2,
        threads_per_worker=2,  # workers of several threads: each its own context
        processes=True,
        dashboard_address=None,
        silence_logs=logging.ERROR,
    ) as cluster, distributed.Client(cluster) as client:
        yield client
