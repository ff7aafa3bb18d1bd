"""Pictures as encode takes them: deep samples, transparency, any size, JPEG
drafts; and the same frames as the quill tool gives for the same files."""

import io
import struct
import subprocess
import zlib

import numpy as np
import pytest
from PIL import Image

import quill32
from conftest import TREE, _quill_path


def png(width, height, depth, colour, rows, *chunks):
    """A PNG written chunk by chunk (Pillow cannot write all of these)."""

    def chunk(kind, data):
        crc = struct.pack(">I", zlib.crc32(kind + data))
        return struct.pack(">I", len(data)) + kind + data + crc

    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    raw = b"".join(b"\0" + row for row in rows)
    body = b"".join(chunk(kind, data) for kind, data in chunks)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + body
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def flat(depth, colour, pixel, *chunks, width=320, height=240):
    """A picture of one pixel repeated, a row of `width` bytes-wide pixels."""
    return png(width, height, depth, colour, [pixel * width] * height, *chunks)


def u16(*values):
    return struct.pack(">%dH" % len(values), *values)


def low_bit_grey(depth, transparent=None):
    """Grey of `depth` bits, the row running through every value; returns the
    file and the 8-bit row expected."""
    levels = 1 << depth
    values = [i % levels for i in range(320)]
    bits = "".join(format(v, "0%db" % depth) for v in values)
    row = int(bits, 2).to_bytes(len(bits) // 8, "big")
    chunks = [(b"tRNS", u16(transparent))] if transparent is not None else []
    expected = [0 if v == transparent else v * 255 // (levels - 1) for v in values]
    return png(320, 240, depth, 0, [row] * 240, *chunks), np.array(expected, np.uint8)


GAMMA = (b"gAMA", struct.pack(">I", 100000))
SRGB = (b"sRGB", b"\0")
# file, the pixel expected (R, G, B)
READING = [
    ("grey16_half", lambda: flat(16, 0, u16(0x8000)), (128, 128, 128)),
    ("grey16_1234", lambda: flat(16, 0, u16(0x1234)), (18, 18, 18)),
    ("grey16_gamma_ignored", lambda: flat(16, 0, u16(0x8000), GAMMA), (128, 128, 128)),
    ("rgb16", lambda: flat(16, 2, u16(0x1234, 0x8000, 0xFFFF)), (18, 128, 255)),
    ("rgb16_srgb_ignored", lambda: flat(16, 2, u16(0x1234, 0x8000, 0xFFFF), SRGB), (18, 128, 255)),
    ("rgba16_half", lambda: flat(16, 6, u16(0x1234, 0x8000, 0xFFFF, 0x8000)), (9, 64, 128)),
    ("grey_alpha16", lambda: flat(16, 4, u16(0x8000, 0x4000)), (32, 32, 32)),
    ("grey16_trns", lambda: flat(16, 0, u16(0x8000), (b"tRNS", u16(0x8000))), (0, 0, 0)),
    ("grey16_trns_other", lambda: flat(16, 0, u16(0x8000), (b"tRNS", u16(0x8001))), (128,) * 3),
    ("rgba_clear_red", lambda: flat(8, 6, bytes((255, 0, 0, 0))), (0, 0, 0)),
    ("rgba_third", lambda: flat(8, 6, bytes((200, 100, 1, 85))), (67, 33, 0)),
    ("rgb_trns", lambda: flat(8, 2, bytes((1, 2, 3)), (b"tRNS", u16(1, 2, 3))), (0, 0, 0)),
    ("rgb16_trns", lambda: flat(16, 2, u16(0x102, 0x304, 0x506),
                                (b"tRNS", u16(0x102, 0x304, 0x506))), (0, 0, 0)),
    ("rgb16_trns_low_byte_differs", lambda: flat(16, 2, u16(0x102, 0x304, 0x507),
                                                 (b"tRNS", u16(0x102, 0x304, 0x506))), (1, 3, 5)),
    ("grey_alpha8", lambda: flat(8, 4, bytes((255, 128))), (128, 128, 128)),
    ("grey8_gamma_ignored", lambda: flat(8, 0, bytes((100,)), GAMMA), (100, 100, 100)),
    ("palette_trns", lambda: flat(8, 3, b"\1", (b"PLTE", bytes((9, 9, 9, 200, 100, 50))),
                                  (b"tRNS", bytes((255, 128)))), (100, 50, 25)),
]


@pytest.mark.parametrize("name, data, pixel", READING, ids=[r[0] for r in READING])
def test_samples_are_read_by_the_rules(tmp_path, name, data, pixel):
    got = quill32.frame_picture(Image.open(io.BytesIO(data())))
    assert got.shape == (240, 320, 3)
    assert (got == np.array(pixel, np.uint8)).all(), got[0, 0]
    # Loaded first, as Image.save has it: the file's header is read back.
    (tmp_path / "a.png").write_bytes(data())
    with Image.open(tmp_path / "a.png") as image:
        image.load()
        assert np.array_equal(quill32.frame_picture(image), got)
        image.save(tmp_path / "a.yuv")
    assert (tmp_path / "a.yuv").read_bytes() == quill32.encode(got)


@pytest.mark.parametrize("depth, transparent", [(1, None), (1, 1), (2, None), (2, 2), (4, 9)])
def test_low_bit_grey_is_scaled_and_keyed(tmp_path, depth, transparent):
    data, row = low_bit_grey(depth, transparent)
    (tmp_path / "a.png").write_bytes(data)
    for loaded in (False, True):
        image = Image.open(tmp_path / "a.png")
        if loaded:
            image.load()
        got = quill32.frame_picture(image)
        assert np.array_equal(got[7, :, 1], row) and (got[..., 0] == got[..., 2]).all()


def pnm(magic, maxval, *samples, plain=False):
    """A 320x240 PNM of one pixel repeated."""
    if plain:
        body = b"# a comment\n" + (" ".join(map(str, samples)) + "\n").encode() * (320 * 240)
    else:
        body = struct.pack(">%d%s" % (len(samples), "H" if maxval > 255 else "B"), *samples)
        body *= 320 * 240
    return b"%s\n# made here\n320 240\n%d\n" % (magic, maxval) + body


@pytest.mark.parametrize(
    "data, pixel",
    [
        (pnm(b"P6", 65535, 0x1234, 0x8000, 0xFFFF), (18, 128, 255)),
        (pnm(b"P5", 65535, 0x8000), (128, 128, 128)),
        (pnm(b"P6", 1000, 300, 100, 1000), (77, 26, 255)),  # half up, not to even
        (pnm(b"P3", 15, 7, 0, 15, plain=True), (119, 0, 255)),
        (pnm(b"P2", 4095, 2048, plain=True), (128, 128, 128)),
        (pnm(b"P6", 255, 1, 2, 3), (1, 2, 3)),
    ],
)
def test_pnm_samples_are_read_by_the_rules(tmp_path, data, pixel):
    got = quill32.frame_picture(Image.open(io.BytesIO(data)))
    assert (got == np.array(pixel, np.uint8)).all(), got[0, 0]
    (tmp_path / "a.pnm").write_bytes(data)
    with Image.open(tmp_path / "a.pnm") as image:
        image.load()  # as Image.save has it: the file is read back
        assert np.array_equal(quill32.frame_picture(image), got)


@pytest.mark.parametrize(
    "array, pixel",
    [
        (np.array([[[255, 0, 0, 0]]], np.uint8), (0, 0, 0)),
        (np.array([[[200, 100, 1, 85]]], np.uint8), (67, 33, 0)),
        (np.array([[[0x1234, 0x8000, 0xFFFF]]], np.uint16), (18, 128, 255)),
        (np.array([[[0x1234, 0x8000, 0xFFFF, 0x8000]]], np.uint16), (9, 64, 128)),
    ],
)
def test_arrays_are_read_by_the_same_rules(array, pixel):
    picture = np.repeat(np.repeat(array, 240, axis=0), 320, axis=1)
    assert (quill32.frame_picture(picture) == np.array(pixel, np.uint8)).all()


def blocks(width, height, side, seed=3):
    """A picture of random side x side squares of one colour."""
    cells = np.random.default_rng(seed).integers(0, 256, (height // side, width // side, 3))
    return cells.repeat(side, axis=0).repeat(side, axis=1).astype(np.uint8), cells


def stripes(width, height, values):
    """Columns of the values, over and over."""
    columns = np.resize(np.array(values, np.uint8), width)
    return np.broadcast_to(columns[None, :, None], (height, width, 3)).copy()


def test_whole_steps_down_and_up_are_block_means_and_copies():
    picture, cells = blocks(1280, 960, 4)
    assert np.array_equal(quill32.frame_picture(picture, "fit"), cells)
    assert np.array_equal(quill32.frame_picture(picture, "fill"), cells)
    small = np.random.default_rng(5).integers(0, 256, (120, 160, 3), dtype=np.uint8)
    assert np.array_equal(quill32.frame_picture(small, "fit"), small.repeat(2, 0).repeat(2, 1))


def by_the_rule(picture, w, h):
    """The area average written as the rule reads: weighted sums, then one
    rounding (a different road from the package's running sums)."""
    H, W = picture.shape[:2]

    def weights(size, source):
        i, x = np.arange(source), np.arange(size)[:, None]
        overlap = np.minimum((i + 1) * size, (x + 1) * source) - np.maximum(i * size, x * source)
        return np.maximum(overlap, 0)

    sums = np.einsum("yj,xi,jic->yxc", weights(h, H), weights(w, W), picture.astype(np.int64),
                     optimize=True)
    return ((sums + W * H // 2) // (W * H)).astype(np.uint8)


@pytest.mark.parametrize("width, height", [(331, 251), (997, 241), (53, 401), (641, 479)])
def test_the_area_average_is_the_rule_s(width, height):
    picture = np.random.default_rng(width).integers(0, 256, (height, width, 3), dtype=np.uint8)
    w, h = quill32._pictures.fit_size(width, height)
    fitted = quill32.frame_picture(picture, "fit")
    left, top = (320 - w) // 2, (240 - h) // 2
    assert np.array_equal(fitted[top : top + h, left : left + w], by_the_rule(picture, w, h))
    w, h = quill32._pictures.fill_size(width, height)
    left, top = (w - 320) // 2, (h - 240) // 2
    expected = by_the_rule(picture, w, h)[top : top + 240, left : left + 320]
    assert np.array_equal(quill32.frame_picture(picture, "fill"), expected)


@pytest.mark.parametrize(
    "width, height, values, resize, box, row",
    [
        # 2:1 each way: the mean of four, rounded half up (0.5 -> 1, 0.25 -> 0)
        (640, 240, [0, 1], "fit", (0, 60, 320, 180), [1]),
        (640, 240, [0, 0, 0, 1], "fit", (0, 60, 320, 180), [0, 1]),
        # 3:2: output pixels cover a pixel and a half
        (480, 240, [0, 255, 0, 255, 0, 255], "fit", (0, 40, 320, 200), [85, 85, 170, 170]),
        # a window, no resize: fill keeps the height and cuts the middle
        (480, 240, [10, 20, 30], "fill", (0, 0, 320, 240), [30, 10, 20]),
        # narrow and tall: fit gives 24x240 in the middle
        (100, 1000, [50], "fit", (148, 0, 172, 240), [50]),
        # odd overhangs: the window starts (W - 320) // 2 in
        (323, 243, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19],
         "crop", (0, 0, 320, 240), [2, 3]),
        (317, 237, [60], "crop", (1, 1, 318, 238), [60]),
    ],
)
def test_sizes_are_brought_to_the_frame(width, height, values, resize, box, row):
    got = quill32.frame_picture(stripes(width, height, values), resize)
    left, top, right, bottom = box
    inside = got[top:bottom, left:right, 0]
    expected = np.tile(np.array(row, np.uint8), (bottom - top, 1))
    assert np.array_equal(inside[:, : len(row)], expected)
    assert (inside == inside[0]).all()  # the same in every row
    around = got.copy()
    around[top:bottom, left:right] = 0
    assert not around.any()  # black outside the picture


def loaded(data):
    """An image from a file object, loaded: its file is gone."""
    image = Image.open(io.BytesIO(data))
    image.load()
    return image


@pytest.mark.parametrize(
    "call, words",
    [
        (lambda: quill32.encode(np.zeros((241, 320, 3), np.uint8)),
         'picture is 320x241; a frame holds 320x240: give resize="fit", "fill" or "crop"'),
        (lambda: quill32.encode(np.zeros((2, 2, 3), np.uint8), resize="stretch"), "'stretch'"),
        (lambda: quill32.encode(np.zeros((0, 5, 3), np.uint8), resize="fit"), "is 5x0; an empty"),
        (lambda: quill32.encode(Image.new("CMYK", (320, 240))), "CMYK"),
        (lambda: quill32.encode(Image.new("I", (320, 240), -1)), "0..65535"),
        (lambda: quill32.encode(loaded(flat(16, 2, u16(1, 2, 3), (b"tRNS", u16(1, 2, 0x300))))),
         "cannot be read again"),
        (lambda: Image.new("RGB", (8, 8)).save(io.BytesIO(), format="QUILL32"), "image is 8x8"),
    ],
)
def test_pictures_that_cannot_be_taken_say_why(call, words):
    with pytest.raises(ValueError) as raised:
        call()
    assert words in str(raised.value)


def photo_jpeg(width, height, grey=False):
    """A JPEG with detail at every scale (gradients and noise)."""
    y, x = np.mgrid[0:height, 0:width]
    noise = np.random.default_rng(11).integers(0, 60, (height, width, 3))
    picture = np.stack([x * 200 // width, y * 200 // height, (x + y) % 97], axis=2) + noise
    image = Image.fromarray(picture.astype(np.uint8))
    out = io.BytesIO()
    (image.convert("L") if grey else image).save(out, format="JPEG", quality=90)
    return out.getvalue()


@pytest.mark.parametrize(
    "width, height, resize, scaled",
    [(1280, 960, "fit", (320, 240)), (1300, 700, "fit", (325, 175)),
     (1300, 700, "fill", (650, 350)), (3000, 200, "fit", (375, 25)), (1280, 960, "crop", None)],
)
def test_jpegs_are_decoded_at_the_dct_scale(width, height, resize, scaled):
    data = photo_jpeg(width, height)
    image = Image.open(io.BytesIO(data))
    frame = quill32.encode(image, resize=resize)
    if scaled:
        assert image.size == scaled
        drafted = Image.open(io.BytesIO(data))
        drafted.draft("RGB", scaled)
        assert drafted.size == scaled
        assert frame == quill32.encode(np.asarray(drafted.convert("RGB")), resize=resize)
    else:
        assert image.size == (width, height)


def tool_runs_fit():
    """Whether the quill tool found as the other tests find it has --fit;
    skips when it reports the option unknown."""
    path = _quill_path()
    if path is None:
        pytest.skip("no quill tool: build it (build/gcc/tools/quill) or set QUILL")
    card = TREE / "samples" / "testcard.bmp"
    done = subprocess.run([path, "encode", "--fit", card, "-o", "/dev/null"],
                          capture_output=True, text=True, timeout=60)
    if done.returncode == 2 and "--fit" in done.stderr:
        pytest.skip("this quill tool has no --fit yet")
    return path


COMPARED = [(name, data, ()) for name, data, _ in READING if "ignored" not in name] + [
    ("grey2_trns", lambda: low_bit_grey(2, 2)[0], ()),
    ("photo1280", lambda: photo_jpeg(1280, 960), ("--fit",)),
    ("wide_jpeg", lambda: photo_jpeg(1300, 700), ("--fill",)),
    ("grey_jpeg", lambda: photo_jpeg(700, 500, grey=True), ("--fit",)),
    ("jpeg640", lambda: photo_jpeg(640, 480), ("--fit",)),
    ("rgba_big", lambda: png(330, 250, 8, 6, [bytes(i * 7 % 256 for i in range(1320))] * 250),
     ("--crop",)),
    ("grey16_tall", lambda: flat(16, 0, u16(0x9ABC), width=100, height=1000), ("--fit",)),
    ("pnm_1000", lambda: pnm(b"P6", 1000, 300, 100, 1000), ()),
    ("pnm_65535", lambda: pnm(b"P6", 65535, 0x8000, 0x1234, 0xFFFF), ()),
    ("pnm_grey_65535", lambda: pnm(b"P5", 65535, 0x9ABC), ()),
    ("pnm_plain_15", lambda: pnm(b"P3", 15, 7, 0, 15, plain=True), ()),
    ("pnm_plain_grey_4095", lambda: pnm(b"P2", 4095, 2048, plain=True), ()),
]


@pytest.mark.parametrize("name, data, options", COMPARED, ids=[c[0] for c in COMPARED])
def test_the_tool_gives_the_same_frames(tmp_path, name, data, options):
    # The tool that has the resize options reads pictures by the same rules.
    quill = tool_runs_fit()
    suffix = ".jpg" if "jpeg" in name or "photo" in name else ".pnm" if "pnm" in name else ".png"
    source = tmp_path / (name + suffix)
    source.write_bytes(data())
    out = tmp_path / (name + ".yuv")
    done = subprocess.run([quill, "encode", *options, source, "-o", out], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    resize = options[0][2:] if options else None
    assert quill32.encode(Image.open(source), resize=resize) == out.read_bytes()
    with Image.open(source) as image:
        image.save(tmp_path / "saved.yuv", resize=resize)
    if suffix != ".jpg":  # save loads first: no draft
        assert (tmp_path / "saved.yuv").read_bytes() == out.read_bytes()
