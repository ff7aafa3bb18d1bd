"""The package against the quill tool's outputs on the samples, bad inputs,
threads and fork."""

import json
import os
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from PIL import Image

import quill32
from conftest import PICTURES, SAMPLES, TREE


def read_picture(path):
    return np.asarray(Image.open(path).convert("RGB"))


def damaged_frames():
    """Frames the check must describe as quill info does."""
    card = bytearray((TREE / "samples" / "testcard.yuv").read_bytes())
    step = bytearray(card)
    step[1] = 200  # a quality step the decoder refuses
    noise = bytearray(np.random.default_rng(7).integers(0, 256, 24576, dtype=np.uint8).tobytes())
    noise[1] = 3
    into_tag = bytearray(card)
    into_tag[2:] = b"\xff" * (24576 - 3) + b"Z"
    untagged = bytearray(card)
    untagged[-1] = 0
    return {"step": step, "noise": noise, "into_tag": into_tag, "untagged": untagged}


@pytest.mark.parametrize(
    "args, size, sharpen",
    [
        ((), (320, 240), False),
        (("--sharpen",), (320, 240), True),
        (("--size", "640x480"), (640, 480), False),
        (("--size", "640x480", "--sharpen"), (640, 480), True),
    ],
)
def test_decode_equals_the_tool_on_every_sample(quill, frames, tmp_path, args, size, sharpen):
    quill("decode", *SAMPLES, "-d", tmp_path, "--format", "bmp", "-q", *args)
    for path, frame in frames.items():
        got = quill32.decode(frame, size=size, sharpen=sharpen)
        assert got.shape == (size[1], size[0], 3) and got.dtype == np.uint8
        assert np.array_equal(got, read_picture(tmp_path / (path.stem + ".bmp"))), path.name


@pytest.mark.parametrize("sharpen", [False, True])
def test_decode_fields_equals_the_tool(quill, frames, tmp_path, sharpen):
    # A legacy field with a tagged one, both ways round: the colours differ.
    pairs = [("legacy", "busy"), ("busy", "legacy"), ("testcard", "rocket")]
    by_name = {p.stem: p for p in frames}
    for a, b in pairs:
        out = tmp_path / ("%s-%s.bmp" % (a, b))
        extra = ["--sharpen"] if sharpen else []
        quill("decode", by_name[a], "--field2", by_name[b], "--size", "640x480", "-o", out, *extra)
        got = quill32.decode_fields(frames[by_name[a]], frames[by_name[b]], sharpen=sharpen)
        assert np.array_equal(got, read_picture(out)), (a, b)


def test_encode_equals_the_tool(quill, tmp_path):
    quill("encode", *PICTURES, "-d", tmp_path, "-q")
    for path in PICTURES:
        expected = (tmp_path / (path.stem + ".yuv")).read_bytes()
        assert quill32.encode(read_picture(path)) == expected, path.name
        assert quill32.encode(Image.open(path)) == expected, path.name


def test_inspect_equals_quill_info(quill, frames, tmp_path):
    paths = list(frames)
    for name, frame in damaged_frames().items():
        paths.append(tmp_path / (name + ".yuv"))
        paths[-1].write_bytes(frame)
    entries = json.loads(quill("info", "--json", *paths, ok=(0, 1)))
    assert [e["file"] for e in entries] == [str(p) for p in paths]
    damaged = 0
    for path, entry in zip(paths, entries):
        got = quill32.inspect(path.read_bytes())
        assert {"file": str(path), **got} == entry
        assert list(got) == [k for k in entry if k != "file"]  # in the same order
        damaged += got["damaged"]
    assert damaged >= 3


@pytest.mark.parametrize(
    "command, function, inputs",
    [
        ("smooth", quill32.smooth, ["testcard.bmp"]),
        ("smooth", quill32.smooth, ["busy.bmp"]),
        ("sharpen", quill32.sharpen, ["testcard640.bmp"]),
        ("sharpen", quill32.sharpen, ["busy.bmp"]),
        ("subsample", quill32.subsample, ["testcard640.bmp"]),
        ("combine", quill32.combine, ["testcard.bmp", "busy.bmp"]),
    ],
)
def test_picture_operations_equal_the_tool(quill, tmp_path, command, function, inputs):
    paths = [TREE / "samples" / name for name in inputs]
    out = tmp_path / "out.bmp"
    quill(command, *paths, out)
    pictures = [read_picture(p) for p in paths]
    before = [p.copy() for p in pictures]
    assert np.array_equal(function(*pictures), read_picture(out))
    assert all(np.array_equal(a, b) for a, b in zip(pictures, before))  # inputs untouched


def test_non_contiguous_inputs_are_taken(frames):
    frame = next(iter(frames.values()))
    picture = quill32.decode(frame)
    strided = np.frombuffer(frame, dtype=np.uint8).repeat(2)[::2]
    assert np.array_equal(quill32.decode(strided), picture)
    flipped = np.ascontiguousarray(picture[::-1])[::-1]
    assert quill32.encode(flipped) == quill32.encode(picture)
    assert np.array_equal(quill32.decode(bytearray(frame)), picture)


FRAME = bytes((TREE / "samples" / "testcard.yuv").read_bytes())
PICTURE = np.zeros((240, 320, 3), np.uint8)


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda: quill32.decode(b"x" * 1734), ValueError, "1734 bytes"),
        (lambda: quill32.decode(FRAME + b"x"), ValueError, "24577 bytes"),
        (lambda: quill32.decode(b""), ValueError, "0 bytes"),
        (lambda: quill32.decode("x" * 24576), TypeError, "bytes-like"),
        (lambda: quill32.decode(FRAME, size=(320, 480)), ValueError, "size"),
        (lambda: quill32.decode(damaged_frames()["step"]), ValueError, "quality step 200"),
        (lambda: quill32.decode_fields(FRAME, b"y"), ValueError, "frame_b is 1 bytes"),
        (lambda: quill32.decode_fields(FRAME, damaged_frames()["step"]), ValueError, "frame_b"),
        (lambda: quill32.inspect(bytes(100)), ValueError, "100 bytes"),
        (lambda: quill32.encode(np.zeros((240, 320, 2), np.uint8)), ValueError, "shape"),
        (lambda: quill32.encode(np.zeros((320, 240, 3), np.uint8)), ValueError, "is 240x320"),
        (lambda: quill32.encode(np.zeros((240, 320), np.uint8)), ValueError, "shape"),
        (lambda: quill32.encode(PICTURE.astype(np.float32)), ValueError, "dtype float32"),
        (lambda: quill32.encode(PICTURE.tolist()), ValueError, "numpy array"),
        (lambda: quill32.encode(Image.new("RGB", (100, 100))), ValueError, "is 100x100"),
        (lambda: quill32.smooth(np.zeros((10, 10, 3), np.uint8)), ValueError, "multiples of 4"),
        (lambda: quill32.sharpen(np.zeros((8, 8, 3), np.int16)), ValueError, "uint8"),
        (lambda: quill32.subsample(PICTURE), ValueError, "(480, 640, 3)"),
        (lambda: quill32.combine(PICTURE, PICTURE[:100]), ValueError, "second"),
        (lambda: quill32.set_vector_level("mmx"), ValueError, "mmx"),
    ],
)
def test_bad_inputs_are_refused(call, error, words):
    with pytest.raises(error, match=None) as raised:
        call()
    assert words in str(raised.value)


def test_every_vector_level_gives_the_same_pixels(frames):
    best = quill32.vector_level()
    expected = {p: quill32.decode(f, (640, 480), True) for p, f in frames.items()}
    try:
        for level in ("plain", "sse2", "avx2", "avx512bw", "avx512vbmi"):
            quill32.set_vector_level(level)
            for path, frame in frames.items():
                assert np.array_equal(quill32.decode(frame, (640, 480), True), expected[path])
    finally:
        assert quill32.set_vector_level(best) == best


def test_threads_get_what_one_thread_gets(frames):
    work = list(frames.values())
    expected = [(quill32.decode(f).tobytes(), quill32.decode(f, (640, 480)).tobytes(),
                 quill32.encode(quill32.decode(f)), quill32.inspect(f)) for f in work]
    failures = []

    def run(seed):
        try:
            for i in np.random.default_rng(seed).permutation(len(work) * 3) % len(work):
                f = work[i]
                got = (quill32.decode(f).tobytes(), quill32.decode(f, (640, 480)).tobytes(),
                       quill32.encode(quill32.decode(f)), quill32.inspect(f))
                if got != expected[i]:
                    failures.append(i)
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append(e)

    threads = [threading.Thread(target=run, args=(s,)) for s in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


GIL_PROBE = """
import sys, threading, time, quill32
frame = open(sys.argv[1], "rb").read()
sys.setswitchinterval(1000)  # the GIL changes hands only when given up
done = []
def decode_on():
    for i in range(200):
        quill32.decode(frame, (640, 480))
        done.append(i)
worker = threading.Thread(target=decode_on)
worker.start()
seen = set()
while worker.is_alive():  # runs only while the worker is in the library
    seen.add(len(done))
    time.sleep(0.001)
worker.join()
assert len(seen - {0, 200}) > 1, seen
print("ok")
"""


def test_calls_give_the_gil_up_while_in_the_library():
    # With the GIL kept through a call, this thread could only look at the
    # worker's progress before it starts and after it ends.
    done = subprocess.run([sys.executable, "-c", GIL_PROBE, str(SAMPLES[0])],
                          capture_output=True, text=True, timeout=60)
    assert done.stdout == "ok\n", done.stderr


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork")
def test_a_fork_during_calls_leaves_the_child_a_free_library(frames):
    frame = frames[next(iter(frames))]
    stop = threading.Event()

    def decode_on():
        while not stop.is_set():
            quill32.decode(frame, (640, 480))

    threads = [threading.Thread(target=decode_on) for _ in range(2)]
    for t in threads:
        t.start()
    try:
        for _ in range(10):
            pid = os.fork()
            if pid == 0:
                ok = quill32.inspect(frame)["kind"] == "tagged"
                os._exit(0 if ok and quill32.decode(frame).shape == (240, 320, 3) else 3)
            deadline = time.monotonic() + 20
            while True:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    break
                if time.monotonic() > deadline:
                    os.kill(pid, 9)
                    os.waitpid(pid, 0)
                    pytest.fail("the child hung on the library's lock")
                time.sleep(0.01)
            assert os.waitstatus_to_exitcode(status) == 0
    finally:
        stop.set()
        for t in threads:
            t.join()


def test_version_and_level():
    assert quill32.__version__.count(".") == 2
    cmake = (TREE / "CMakeLists.txt").read_text()
    assert "VERSION %s " % quill32.__version__ in cmake
    assert quill32.vector_level() in ("plain", "sse2", "avx2", "avx512bw", "avx512vbmi")


def test_threads_decode_and_encode_different_frames_at_once(frames):
    # Each thread its own frame, all started together and each reusing one
    # out= array: a context shared between threads, or one thread's pixels
    # landing in another's, would show as a frame or picture unlike the
    # serial one.
    work = list(frames.values())[:4]
    serial = []
    for f in work:
        big = quill32.decode(f, (640, 480))
        serial.append((big, quill32.encode(np.ascontiguousarray(big[::2, ::2]))))
    start, unlike = threading.Barrier(len(work)), []

    def run(i):
        out = np.empty((480, 640, 4), np.uint8)
        start.wait()
        for _ in range(20):
            big = quill32.decode(work[i], (640, 480), mode="RGBA", out=out)
            frame = quill32.encode(big[::2, ::2])
            if not np.array_equal(big[..., :3], serial[i][0]) or frame != serial[i][1]:
                unlike.append(i)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(work))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert unlike == []


@pytest.mark.parametrize("mode, order", [("RGB", [0, 1, 2]), ("BGR", [2, 1, 0]),
                                         ("RGBA", [0, 1, 2]), ("BGRA", [2, 1, 0])])
def test_decode_modes_and_out_views_hold_the_same_pixels(mode, order):
    frame = SAMPLES[0].read_bytes()
    rgb = quill32.decode(frame)
    got = quill32.decode(frame, mode=mode)
    assert got.shape == (240, 320, len(mode))
    assert np.array_equal(got[..., order], rgb)
    if len(mode) == 4:
        assert (got[..., 3] == 255).all()
    # Into a window of a larger picture: only the window is written.
    canvas = np.full((300, 400, len(mode)), 7, np.uint8)
    window = canvas[30:270, 40:360]
    assert quill32.decode(frame, mode=mode, out=window) is window
    assert np.array_equal(window, got)
    window[...] = 7
    assert (canvas == 7).all()


@pytest.mark.parametrize("view", [
    lambda big: big[::2, ::2],                     # pixels not packed: copied
    lambda big: np.pad(big[::2, ::2], ((0, 0), (0, 40), (0, 0)))[:, :320],  # rows at a stride
    lambda big: np.dstack([big[::2, ::2], np.full((240, 320), 255, np.uint8)]),  # opaque RGBA
    lambda big: np.flipud(np.ascontiguousarray(big[::2, ::2])[::-1]),  # negative stride
])
def test_encode_reads_views_where_they_lie(view):
    big = quill32.decode(SAMPLES[0].read_bytes(), (640, 480))
    assert quill32.encode(view(big)) == quill32.encode(np.ascontiguousarray(big[::2, ::2]))


@pytest.mark.parametrize("call, words", [
    (lambda f: quill32.decode(f, mode="YUV"), "mode is 'YUV'"),
    (lambda f: quill32.decode(f, out=np.empty((240, 320, 4), np.uint8)), "out has the wrong shape"),
    (lambda f: quill32.decode(f, out=np.empty((240, 320, 3), np.uint16)), "uint8"),
    (lambda f: quill32.decode(f, out=np.empty((240, 640, 3), np.uint8)[:, ::2]), "packed"),
    (lambda f: quill32.decode(f, out=np.frombuffer(bytes(230400), np.uint8).reshape(240, 320, 3)),
     "writable"),
])
def test_decode_refuses_bad_targets(call, words):
    frame = SAMPLES[0].read_bytes()
    with pytest.raises(ValueError) as raised:
        call(frame)
    assert words in str(raised.value)
