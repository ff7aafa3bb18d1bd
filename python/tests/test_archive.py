"""Archive jobs: in this process, on the local pool and on a 2-worker Dask
cluster, against quill info and quill32.decode; errors stay with their file."""

import json
import os
import stat
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import quill32
from quill32 import archive
from conftest import SAMPLES

RUNNERS = ["one_process", "local_pool", "dask"]


@pytest.fixture(params=RUNNERS)
def runner(request):
    """Keyword arguments that choose where archive jobs run."""
    if request.param == "dask":
        return {"client": request.getfixturevalue("dask_client"), "batch_size": 3}
    return {"processes": 1 if request.param == "one_process" else 2, "batch_size": 3}


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """The samples twice over (as copies), with files that are no frame."""
    folder = tmp_path_factory.mktemp("inputs")
    paths = []
    for round in range(2):
        for sample in SAMPLES:
            paths.append(folder / ("%d-%s" % (round, sample.name)))
            paths[-1].write_bytes(sample.read_bytes())
    (folder / "notes.txt").write_text("not a frame\n")
    refused = bytearray(SAMPLES[0].read_bytes())
    refused[1] = 200
    (folder / "refused.yuv").write_bytes(refused)
    (folder / "sub").mkdir()
    bad = [folder / "notes.txt", folder / "missing.yuv", folder / "sub", folder / "refused.yuv"]
    paths[3:3] = bad
    return [str(p) for p in paths], {str(p) for p in bad}


def test_verify_equals_quill_info(quill, inputs, runner):
    paths, _ = inputs
    expected = json.loads(quill("info", "--json", *paths, ok=(1,)))
    for entry in expected:  # folders are not walked here: no -r to give
        if entry.get("error", "").startswith("is a folder"):
            entry["error"] = "is a folder"
    assert archive.verify(paths, **runner) == expected


@pytest.mark.parametrize("size, fmt", [((320, 240), "png"), ((640, 480), "bmp")])
def test_convert_writes_what_decode_gives(tmp_path, inputs, runner, size, fmt):
    paths, bad = inputs
    out = tmp_path / "out"
    results = archive.convert(paths, out, size=size, fmt=fmt, **runner)
    assert len(results) == len(paths)
    umask = os.umask(0)
    os.umask(umask)
    for path, result in zip(paths, results):
        if path in bad or path.endswith("refused.yuv"):
            assert isinstance(result, archive.FileError) and result.file == path
            continue
        assert result == str(out / (os.path.basename(path)[:-4] + "." + fmt))
        with open(path, "rb") as f:
            expected = quill32.decode(f.read(), size=size)
        with Image.open(result) as image:
            assert image.format == fmt.upper()
            assert np.array_equal(np.asarray(image), expected)
        assert stat.S_IMODE(os.stat(result).st_mode) == 0o666 & ~umask
    reasons = {os.path.basename(r.file): r.reason for r in results if isinstance(r, Exception)}
    assert reasons == {
        "notes.txt": "is 12 bytes; a frame is exactly 24576 bytes",
        "missing.yuv": "cannot be read: No such file or directory",
        "sub": "is a folder",
        "refused.yuv": "cannot be decoded: its quality step 200 is out of range",
    }
    assert sorted(os.listdir(out)) == sorted(os.path.basename(r) for r in results
                                             if isinstance(r, str))  # no temporaries


def test_convert_replaces_outputs_keeping_their_mode(tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    (out / "busy.png").write_bytes(b"old")
    os.chmod(out / "busy.png", 0o640)
    [result] = archive.convert([SAMPLES[0]], out, processes=1)
    assert stat.S_IMODE(os.stat(result).st_mode) == 0o640
    assert Image.open(result).format == "PNG"


def test_convert_refuses_clashing_outputs_before_any_work(tmp_path):
    a = tmp_path / "a"
    a.mkdir()
    for name in ("x.yuv", "x.frame"):
        (a / name).write_bytes(SAMPLES[0].read_bytes())
    with pytest.raises(ValueError, match="both be written"):
        archive.convert([a / "x.yuv", a / "x.frame"], tmp_path / "out")
    (a / "y.bmp").write_bytes(b"")
    with pytest.raises(ValueError, match="over an input"):
        archive.convert([a / "y.bmp", a / "y.yuv"], a, fmt="bmp")
    with pytest.raises(ValueError, match="fmt"):
        archive.convert([a / "x.yuv"], tmp_path / "out", fmt="gif")
    with pytest.raises(ValueError, match="not below root"):
        archive.convert([a / "x.yuv"], tmp_path / "out", root=tmp_path / "b")
    assert not (tmp_path / "out").exists()


TREE_FRAMES = ["d0/f0.yuv", "d1/f0.yuv", "d1/sub/f0.yuv"]


@pytest.mark.parametrize(
    "frames, root, outputs",
    [
        (TREE_FRAMES, None, ["d0/f0.png", "d1/f0.png", "d1/sub/f0.png"]),
        (TREE_FRAMES, "", ["frames/d0/f0.png", "frames/d1/f0.png", "frames/d1/sub/f0.png"]),
        (TREE_FRAMES[1:], None, ["f0.png", "sub/f0.png"]),
        (TREE_FRAMES[1:], "frames", ["d1/f0.png", "d1/sub/f0.png"]),
        (["d1/sub/f0.yuv"], None, ["f0.png"]),
    ],
)
def test_convert_mirrors_the_tree_below_the_root(tmp_path, monkeypatch, frames, root, outputs):
    for name in TREE_FRAMES:
        (tmp_path / "frames" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "frames" / name).write_bytes(SAMPLES[0].read_bytes())
    monkeypatch.chdir(tmp_path)  # relative paths, as a user types them
    paths = [os.path.join("frames", f) for f in frames]
    options = {} if root is None else {"root": root or "."}
    results = archive.convert(paths, "out", processes=1, **options)
    assert results == [os.path.join("out", o) for o in outputs]
    assert [r.file for r in results] == paths
    assert all(Image.open(r).size == (320, 240) for r in results)


def test_convert_reports_damage_and_follows_strict_no_clobber_and_png_level(tmp_path):
    frames = tmp_path / "frames"
    frames.mkdir()
    clean, damaged, kept = frames / "clean.yuv", frames / "damaged.yuv", frames / "kept.yuv"
    clean.write_bytes(SAMPLES[0].read_bytes())
    damaged.write_bytes(SAMPLES[0].read_bytes()[:2] + b"\xff" * 24573 + b"Z")
    kept.write_bytes(SAMPLES[0].read_bytes())
    out = tmp_path / "out"
    out.mkdir()
    (out / "kept.png").write_bytes(b"mine")
    paths = [clean, damaged, kept]
    sizes = {}
    for level in (0, 9):
        [a, b, c] = archive.convert(paths, out / str(level), processes=1, png_level=level)
        assert (a.damaged, a.problems, b.damaged) == (False, [], True)
        assert b.problems == quill32.inspect(damaged.read_bytes())["problems"] != []
        sizes[level] = os.path.getsize(a)
        assert np.array_equal(np.asarray(Image.open(a)), quill32.decode(clean.read_bytes()))
    assert sizes[0] > 320 * 240 * 3 > sizes[9]  # stored; compressed
    [a, b, c] = archive.convert(paths, out, processes=1, strict=True, no_clobber=True)
    assert isinstance(a, archive.Converted) and a.written
    assert b.file == str(damaged) and b.reason == "is damaged (%s)" % "; ".join(
        quill32.inspect(damaged.read_bytes())["problems"])
    assert c == str(out / "kept.png") and not c.written
    assert (out / "kept.png").read_bytes() == b"mine"
    [again] = archive.convert([clean], out, processes=1, no_clobber=True)
    assert not again.written


def test_no_clobber_holds_when_an_output_appears_during_the_batch(tmp_path, monkeypatch):
    out, name = tmp_path / "out", SAMPLES[0].stem + ".png"

    def another_writer(temporaries):  # between the check and the rename
        (out / name).write_bytes(b"theirs")
        return {}

    monkeypatch.setattr(archive, "_sync_files", another_writer)
    [result] = archive.convert([SAMPLES[0]], out, processes=1, no_clobber=True)
    assert not result.written and (out / name).read_bytes() == b"theirs"
    assert os.listdir(out) == [name]  # the temporary removed


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda d: archive.verify(str(SAMPLES[0])), TypeError, "collection of paths"),
        (lambda d: archive.verify(bytes(SAMPLES[0])), TypeError, "collection of paths"),
        (lambda d: archive.convert(SAMPLES[0], d), TypeError, "collection of paths"),
        (lambda d: archive.verify(SAMPLES, processes=-1), ValueError, "processes is -1"),
        (lambda d: archive.verify(SAMPLES, processes=0), ValueError, "processes is 0"),
        (lambda d: archive.verify(SAMPLES, batch_size=0), ValueError, "batch_size is 0"),
        (lambda d: archive.convert(SAMPLES, d, batch_size=-2), ValueError, "batch_size is -2"),
        (lambda d: archive.convert(SAMPLES, d, processes=1.5), TypeError, "processes"),
        (lambda d: archive.convert(SAMPLES, d, png_level=13), ValueError, "png_level is 13"),
        (lambda d: archive.convert(SAMPLES, d / "file"), NotADirectoryError, "is a file"),
        (lambda d: archive.convert(SAMPLES, d / "file" / "sub"), NotADirectoryError, "is a file"),
    ],
)
def test_wrong_arguments_are_refused_at_once(tmp_path, call, error, words):
    (tmp_path / "file").write_bytes(b"")
    with pytest.raises(error) as raised:
        call(tmp_path)
    assert words in str(raised.value)
    assert sorted(os.listdir(tmp_path)) == ["file"]


def _dying_batch(jobs, **options):
    if any("1-" in os.path.basename(path) for path, _ in jobs):
        os._exit(1)  # the worker process dies with its batch
    return archive._convert_batch(jobs, **options)


def test_a_lost_batch_gives_an_error_for_each_of_its_files(tmp_path, inputs, monkeypatch):
    paths, _ = inputs
    monkeypatch.setattr(archive, "_convert_batch", _dying_batch)
    results = archive.convert(paths, tmp_path / "out", processes=2, batch_size=3)
    assert len(results) == len(paths)
    lost = [r for r in results if isinstance(r, archive.FileError) and "batch" in r.reason]
    assert {r.file for r in lost} >= {p for p in paths if "/1-" in p}


def test_the_pool_starts_while_another_thread_holds_a_lock(tmp_path, inputs):
    # Any lock a thread of the caller may hold (numpy's, a handler's,
    # Dask's): a worker made by fork() would have started with it taken.
    paths, _ = inputs
    taken, done, gave_up = threading.Event(), threading.Event(), threading.Event()
    lock = threading.Lock()

    def hold():  # until the job is done (a stalled job: a minute)
        lock.acquire()
        taken.set()
        if not done.wait(60):
            gave_up.set()
        lock.release()

    holder = threading.Thread(target=hold)
    holder.start()
    try:
        taken.wait(10)
        results = archive.verify(paths, processes=2, batch_size=3)
    finally:
        done.set()
        holder.join()
    assert not gave_up.is_set(), "the job waited for the lock"
    assert len(results) == len(paths) and all("file" in r for r in results)


def test_an_unexpected_failure_stays_with_its_file(tmp_path, monkeypatch):
    decode = quill32.decode

    def failing(frame, **options):
        if frame == SAMPLES[1].read_bytes():
            raise RuntimeError("out of luck")
        return decode(frame, **options)

    monkeypatch.setattr(quill32, "decode", failing)
    results = archive.convert(SAMPLES[:3], tmp_path, processes=1)
    assert isinstance(results[0], str) and isinstance(results[2], str)
    assert results[1].file == str(SAMPLES[1])
    assert results[1].reason == "failed: RuntimeError: out of luck"


def test_outputs_that_cannot_be_made_durable_are_not_put_in_place(tmp_path, monkeypatch):
    frames = tmp_path / "frames"
    frames.mkdir()
    paths = []
    for name in ("a", "b", "c"):
        paths.append(frames / (name + ".yuv"))
        paths[-1].write_bytes(SAMPLES[0].read_bytes())
    reason = "cannot be made durable: Input/output error"

    def sync_files(temporaries):
        return {t: reason for t in temporaries if os.path.basename(t).startswith(".b.")}

    monkeypatch.setattr(archive, "_sync_files", sync_files)
    out = tmp_path / "out"
    results = archive.convert(paths, out, processes=1)
    assert results[0] == str(out / "a.png") and results[2] == str(out / "c.png")
    assert results[1].file == str(paths[1]) and results[1].reason == reason
    assert sorted(os.listdir(out)) == ["a.png", "c.png"]  # no b.png, no temporaries


def test_the_example_runs_on_a_local_cluster(tmp_path):
    pytest.importorskip("distributed")
    frames = tmp_path / "frames"
    frames.mkdir()
    for sample in SAMPLES[:3]:
        (frames / sample.name).write_bytes(sample.read_bytes())
    (frames / "notes.yuv").write_text("not a frame\n")
    example = Path(__file__).resolve().parents[1] / "examples" / "archive_on_dask.py"
    done = subprocess.run([sys.executable, str(example), str(frames), str(tmp_path / "out")],
                          capture_output=True, text=True, timeout=100)
    assert done.returncode == 1, done.stderr
    assert "notes.yuv: is 12 bytes; a frame is exactly 24576 bytes" in done.stdout
    assert done.stdout.endswith("3 of 4 frames converted into %s\n" % (tmp_path / "out"))
    assert sorted(os.listdir(tmp_path / "out")) == sorted(s.stem + ".png" for s in SAMPLES[:3])
