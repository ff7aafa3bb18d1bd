"""The Pillow plugin: frames open and save, other formats open as before."""

import io

import numpy as np
import pytest
from PIL import Image, UnidentifiedImageError

import quill32
from conftest import SAMPLES, TREE

CARD = np.asarray(Image.open(TREE / "samples" / "testcard.bmp").convert("RGB"))


def test_every_sample_opens_as_a_frame(frames):
    for path, frame in frames.items():
        with Image.open(path) as image:
            assert (image.format, image.mode, image.size) == ("QUILL32", "RGB", (320, 240))
            assert image.info["quill32"] == quill32.inspect(frame)
            assert np.array_equal(np.asarray(image), quill32.decode(frame)), path.name
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
    ],
)
def test_other_formats_open_as_before(tmp_path, name, data, fmt):
    data = data()
    path = tmp_path / (name + ".img")
    path.write_bytes(data)
    assert (len(data) == 24576) == name.endswith("24576")
    with Image.open(path) as image:
        assert image.format == fmt
        image.load()


def test_files_that_are_no_frame_stay_unidentified(tmp_path):
    frame = SAMPLES[0].read_bytes()
    refused = bytearray(frame)
    refused[1] = 200  # a quality step the decoder refuses
    for name, data in [("short", frame[:-1]), ("long", frame + b"\0"), ("refused", refused)]:
        (tmp_path / name).write_bytes(data)
        with pytest.raises(UnidentifiedImageError):
            Image.open(tmp_path / name)
