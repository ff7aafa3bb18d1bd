"""The Pillow plugin: frames open and save, other formats open as before."""

import io

import numpy as np
import pytest
from PIL import Image, UnidentifiedImageError

import quill32
from conftest import SAMPLES, TREE

CARD = np.asarray(Image.open(TREE / "samples" / "testcard.bmp").convert("RGB"))
NOISY = np.random.default_rng(23).integers(0, 256, (240, 320, 3), dtype=np.uint8)


def test_every_sample_opens_as_a_frame(frames):
    for path, frame in frames.items():
        with Image.open(path) as image:
            assert (image.format, image.mode, image.size) == ("QUILL32", "RGB", (320, 240))
            assert image.info["quill32"] == quill32.inspect(frame)
            assert np.array_equal(np.asarray(image), quill32.decode(frame)), path.name
        clean = quill32.inspect(frame)
        if clean["kind"] == "tagged" and not clean["damaged"]:  # no name needed
            with Image.open(io.BytesIO(frame)) as image:
                assert image.format == "QUILL32"


@pytest.mark.parametrize("source", ["testcard.bmp", "busy.bmp", "testcard640.bmp"])
def test_saving_writes_the_frame_encode_makes(tmp_path, source):
    image = Image.open(TREE / "samples" / source)
    expected = quill32.encode(image)
    image.save(tmp_path / "a.yuv")
    buffer = io.BytesIO()
    image.save(buffer, format="QUILL32")
    assert (tmp_path / "a.yuv").read_bytes() == buffer.getvalue() == expected


def test_saving_another_size_is_refused(tmp_path):
    with pytest.raises(ValueError, match="100x50"):
        Image.new("RGB", (100, 50)).save(tmp_path / "small.yuv")
    assert not (tmp_path / "small.yuv").exists()


def padded(data, size=24576):
    assert len(data) <= size
    return data + bytes(size - len(data))


def file_of(fmt, picture=CARD, **options):
    out = io.BytesIO()
    Image.fromarray(picture).save(out, format=fmt, **options)
    return out.getvalue()


def tga_of_frame_size():
    # TGA has no magic number either: an image ID fills the file to 24,576.
    small = CARD[:127, :64]
    plain = file_of("TGA", small)
    return file_of("TGA", small, id_section=bytes(24576 - len(plain)))


@pytest.mark.parametrize(
    "name, data, fmt",
    [
        ("png", lambda: file_of("PNG"), "PNG"),
        ("jpeg", lambda: file_of("JPEG"), "JPEG"),
        ("bmp", lambda: file_of("BMP"), "BMP"),
        ("png_24576", lambda: padded(file_of("PNG", CARD[:40, :40])), "PNG"),
        ("jpeg_24576", lambda: padded(file_of("JPEG", CARD[:40, :40])), "JPEG"),
        ("bmp_24576", lambda: padded(file_of("BMP", CARD[:40, :40])), "BMP"),
        ("tga_24576", tga_of_frame_size, "TGA"),
        ("png_cut_24576", lambda: file_of("PNG", NOISY)[:24576], "PNG"),
        ("jpeg_cut_24576", lambda: file_of("JPEG", NOISY)[:24576], "JPEG"),
        ("gif_cut_24576", lambda: file_of("GIF", NOISY)[:24576], "GIF"),
    ],
)
def test_other_formats_open_as_before(tmp_path, name, data, fmt):
    data = data()
    assert (len(data) == 24576) == name.endswith("24576")
    for suffix in (".img", ".yuv"):  # a frame's name does not outrank a format's content
        path = tmp_path / (name + suffix)
        path.write_bytes(data)
        with Image.open(path) as image:
            assert image.format == fmt
            if "cut" not in name:
                image.load()


def cut(data, size=24576):
    """`data` repeated or cut to `size` bytes."""
    return (data * (size // max(1, len(data)) + 1))[:size]


def frame_of(name):
    return (TREE / "samples" / name).read_bytes()


def with_last_byte(data, value):
    return data[:-1] + bytes([value])


NOISE = np.random.default_rng(17).integers(0, 256, 24576 * 4, dtype=np.uint8).tobytes()
TEXT = b"QUILL32 frames are exactly 24,576 bytes long.\n"


def decodable(data, last=None):
    """`data` with a quality step the decoder takes (and a last byte)."""
    data = bytes(data[:1]) + b"\3" + bytes(data[2:])
    return data if last is None else with_last_byte(data, ord(last))


# data, whether a name without .yuv is claimed, whether a .yuv name is
CLAIMS = [
    ("tagged_frame", lambda: frame_of("busy.yuv"), True, True),
    ("legacy_frame", lambda: frame_of("legacy.yuv"), False, True),
    ("damaged_frame", lambda: frame_of("busy.yuv")[:2] + b"\xff" * 24573 + b"Z", False, True),
    ("untagged_frame", lambda: with_last_byte(frame_of("busy.yuv"), 0x41), False, True),
    ("text", lambda: cut(TEXT), False, True),
    ("text_ending_in_z", lambda: with_last_byte(cut(TEXT), ord("Z")), False, True),
    ("random", lambda: decodable(NOISE[:24576]), False, True),
    ("random_ending_in_y", lambda: decodable(NOISE[24576:49152], "Y"), False, True),
    ("random_ending_in_z", lambda: decodable(NOISE[49152:73728], "Z"), False, True),
    ("random_step_refused", lambda: NOISE[:1] + b"\xc8" + NOISE[2:24576], False, False),
    ("program", lambda: open("/usr/bin/env", "rb").read()[:24576], False, True),
    ("gzip", lambda: decodable(cut(__import__("gzip").compress(NOISE)), "Z"), False, True),
    ("pdf_like", lambda: cut(b"%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n"), False, True),
]


def claimed(source, data):
    """Whether the plugin opens `source`, and then as the frame `data` is."""
    try:
        image = Image.open(source)
    except UnidentifiedImageError:
        return False
    with image:
        assert image.format == "QUILL32"
        assert np.array_equal(np.asarray(image), quill32.decode(data))
    return True


@pytest.mark.parametrize("name, data, by_content, by_name", CLAIMS, ids=[c[0] for c in CLAIMS])
def test_files_are_claimed_by_content_only_when_clean_and_tagged(tmp_path, name, data, by_content,
                                                                 by_name):
    data = data()
    assert len(data) == 24576
    (tmp_path / "file.bin").write_bytes(data)
    (tmp_path / "file.YUV").write_bytes(data)
    assert claimed(tmp_path / "file.bin", data) == claimed(io.BytesIO(data), data) == by_content
    assert claimed(tmp_path / "file.YUV", data) == by_name
    with open(tmp_path / "file.YUV", "rb") as f:  # the name of a file object counts too
        assert claimed(f, data) == by_name


def test_files_that_are_no_frame_stay_unidentified(tmp_path):
    frame = SAMPLES[0].read_bytes()
    refused = bytearray(frame)
    refused[1] = 200  # a quality step the decoder refuses
    for name, data in [("short", frame[:-1]), ("long", frame + b"\0"), ("refused", refused)]:
        (tmp_path / name).write_bytes(data)
        with pytest.raises(UnidentifiedImageError):
            Image.open(tmp_path / name)
