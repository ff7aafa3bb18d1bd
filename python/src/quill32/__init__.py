"""QUILL32 frames in Python.

A frame is exactly 24,576 bytes and holds one 320x240 colour picture;
pictures here are numpy arrays of shape (height, width, 3), dtype uint8, RGB,
top row first. Every call releases the GIL while the library works and
takes no lock: each thread has a codec context of its own, so threads
decode and encode side by side (two threads, nearly twice the frames).

Importing the package registers the Pillow plugin (format "QUILL32") when
Pillow is installed; ``quill32.archive`` runs jobs over many files, on a
local thread pool (or process pool) or on Dask.
"""

import os as _os

import numpy as _np

from . import _pictures, _quill32

__version__ = _quill32.__version__
FRAME_BYTES = _quill32.FRAME_BYTES
SIZES = ((320, 240), (640, 480))

__all__ = [
    "FRAME_BYTES",
    "combine",
    "decode",
    "decode_fields",
    "encode",
    "frame_picture",
    "inspect",
    "sharpen",
    "smooth",
    "subsample",
    "vector_level",
    "set_vector_level",
]


def _frame(frame, name="frame"):
    """A C-contiguous view of a bytes-like frame of exactly 24,576 bytes."""
    try:
        view = memoryview(frame)
    except TypeError:
        raise TypeError(
            "%s must be a bytes-like object, not %s" % (name, type(frame).__name__)
        ) from None
    if view.nbytes != FRAME_BYTES:
        raise ValueError(
            "%s is %d bytes; a frame is exactly %d bytes" % (name, view.nbytes, FRAME_BYTES)
        )
    return view if view.c_contiguous else view.tobytes()


def _picture(picture, name, sizes):
    """`picture` (an array or a PIL image) as a C-contiguous uint8 RGB array
    of one of `sizes` ((width, height) pairs)."""
    if not isinstance(picture, _np.ndarray) and hasattr(picture, "getbands"):
        picture = _pictures.rgb_of_image(picture, name)
    if not isinstance(picture, _np.ndarray):
        raise ValueError("%s must be a numpy array or a PIL image" % name)
    wanted = " or ".join("(%d, %d, 3)" % (h, w) for w, h in sizes)
    if picture.dtype != _np.uint8:
        raise ValueError("%s has dtype %s; uint8 is taken" % (name, picture.dtype))
    if picture.ndim != 3 or picture.shape[2] != 3 or (picture.shape[1], picture.shape[0]) not in sizes:
        raise ValueError("%s has shape %s; %s is taken" % (name, picture.shape, wanted))
    return _np.ascontiguousarray(picture)


MODES = ("RGB", "RGBA", "BGR", "BGRA")


def _mode(mode):
    if mode not in MODES:
        raise ValueError("mode is %r; %s is taken" % (mode, ", ".join(map(repr, MODES))))
    return mode


def decode(frame, size=(320, 240), sharpen=False, mode="RGB", out=None):
    """Decodes a frame into a picture.

    frame: any bytes-like object of exactly 24,576 bytes (ValueError
    otherwise, naming its length). size: (320, 240), or (640, 480) for the
    block-domain doubling. sharpen: sharpen the luma before rendering.
    mode: the samples' order, "RGB" (default), "RGBA" (alpha 255), "BGR" or
    "BGRA".

    Returns an array of shape (height, width, 3) (4 for RGBA and BGRA),
    uint8, top row first. out: an array of that shape and dtype to decode
    into instead (reused from call to call, no allocation); its rows may lie
    at any stride (a view into a larger picture) as long as each row's
    pixels are packed; it is returned. A damaged frame is decoded as it is
    (``inspect`` tells its damage); a frame whose quality step the decoder
    refuses raises ValueError, leaving `out` as it was.
    """
    size = tuple(size)
    if size not in SIZES:
        raise ValueError("size is %s; (320, 240) or (640, 480) is taken" % (size,))
    return _quill32.decode(
        _frame(frame), None, size == (640, 480), bool(sharpen), _mode(mode), _out(out)
    )


def _out(out):
    if out is not None and (not isinstance(out, _np.ndarray) or out.dtype != _np.uint8):
        raise ValueError("out must be a uint8 numpy array")
    return out


def decode_fields(frame_a, frame_b, sharpen=False, mode="RGB", out=None):
    """The 640x480 picture of two fields: frame_a's rows interleaved with
    frame_b's (each doubled in width), as ``quill decode A --field2 B
    --size 640x480`` makes it.

    The renderer takes the colours of the last frame decoded: frame_b is
    decoded first, so the colours follow frame_a. Returns a (480, 640, 3)
    uint8 RGB array; mode and out as for ``decode``.
    """
    return _quill32.decode(
        _frame(frame_a, "frame_a"),
        _frame(frame_b, "frame_b"),
        True,
        bool(sharpen),
        _mode(mode),
        _out(out),
    )


def encode(picture, resize=None):
    """Encodes a picture into a frame (bytes, 24,576 of them, tagged).

    picture: a PIL image (any mode but CMYK), or an (H, W, 3) RGB or
    (H, W, 4) RGBA array of uint8 or uint16. It is read as the quill tool
    reads picture files: 16-bit samples give their top byte, grey is
    replicated, alpha (and a PNG's tRNS colour) is put on black,
    c * a / 255 rounded half up.

    A uint8 array may be a view with rows at any stride (a crop, a[::2]);
    the library reads it where it lies when each row's pixels are packed
    (a[::2, ::2] is copied first). An RGBA array whose alpha is all 255 is
    read as it is.

    A 320x240 picture is taken as it is; a 640x480 one is halved first, as
    ``subsample`` halves it. Any other size needs resize: "fit" (the whole
    picture, scaled to fit, centred on black), "fill" (scaled to cover
    320x240, the middle kept) or "crop" (the middle 320x240, unscaled; black
    around a smaller picture); without it, ValueError. The scaling is an
    exact area average. A JPEG image from ``Image.open`` that is not loaded
    yet is decoded at a reduced DCT scale first (``Image.draft``, as
    ``Image.thumbnail`` does: the image is left at that scale).
    """
    return _encode(picture, resize, "picture")


def frame_picture(picture, resize=None):
    """The picture ``encode`` codes, as a (240, 320, 3) (or (480, 640, 3),
    which ``encode`` halves) uint8 RGB array: `picture` read and brought to
    the frame's size by the rules of ``encode``."""
    return _np.ascontiguousarray(_pictures.frame_picture(picture, resize, "picture"))


def _encode(picture, resize, name):
    if resize is None and _codable_as_it_is(picture):
        return _quill32.encode(_packed_rows(picture))
    return _quill32.encode(_packed_rows(_pictures.frame_picture(picture, resize, name)))


def _codable_as_it_is(picture):
    """A uint8 RGB, or opaque RGBA, array of a size the library takes."""
    if not isinstance(picture, _np.ndarray) or picture.dtype != _np.uint8:
        return False
    if picture.ndim != 3 or (picture.shape[1], picture.shape[0]) not in SIZES:
        return False
    if picture.shape[2] == 3:
        return True
    return picture.shape[2] == 4 and bool((picture[..., 3] == 255).all())


def _packed_rows(picture):
    """`picture` itself when each row's pixels lie packed (any row stride),
    else a packed copy."""
    channels = picture.shape[2]
    if picture.strides[2] == 1 and picture.strides[1] == channels and picture.strides[0] != 0:
        return picture
    return _np.ascontiguousarray(picture)


# The library's words for each kind of damage; the two that are counted
# say how many, as ``quill info`` prints them.
_COUNTED = {
    0x02: ("unmatched_codes", "1 unmatched code"),
    0x04: ("overrunning_blocks", "1 block runs past its end"),
}


def _problem(bit, text, raw):
    if bit not in _COUNTED:
        return text
    key, one = _COUNTED[bit]
    return one if raw[key] == 1 else "%d %s" % (raw[key], text)


_PROBLEMS = tuple(_quill32.damage_texts())


def inspect(frame):
    """What the library's check reads in a frame, without decoding it: the
    keys and values of one entry of ``quill info --json`` (without "file").

    kind ("tagged" or "legacy"), tag (the last byte), quality_step, luma_end
    and bitstream_end (frame offsets after each section), unmatched_codes,
    overrunning_blocks, clear_of_tag, frame_sum (8-bit sum of all bytes),
    damaged, and problems (the reasons for damage, in words).
    """
    raw = _quill32.check(_frame(frame))
    problems = [_problem(bit, text, raw) for bit, text in _PROBLEMS if raw["damage"] & bit]
    return {
        "kind": "tagged" if raw["tagged"] else "legacy",
        "tag": raw["tag"],
        "quality_step": raw["quality_step"],
        "luma_end": raw["luma_end"],
        "bitstream_end": raw["bitstream_end"],
        "unmatched_codes": raw["unmatched_codes"],
        "overrunning_blocks": raw["overrunning_blocks"],
        "clear_of_tag": raw["clear_of_tag"],
        "frame_sum": raw["frame_sum"],
        "damaged": bool(problems),
        "problems": problems,
    }


def smooth(picture):
    """A smoothed copy of a picture (7x7 pyramid; a 3-pixel border kept).
    picture: an (H, W, 3) uint8 RGB array, W a multiple of 4."""
    return _quill32.smooth(_filterable(picture))


def sharpen(picture):
    """A sharpened copy of a picture (four-neighbour filter that only raises
    values; the outermost rows and columns kept). picture: an (H, W, 3)
    uint8 RGB array, W a multiple of 4."""
    return _quill32.sharpen(_filterable(picture))


def _filterable(picture):
    if not isinstance(picture, _np.ndarray) or picture.dtype != _np.uint8:
        raise ValueError("picture must be a uint8 numpy array")
    if picture.ndim != 3 or picture.shape[2] != 3 or picture.shape[0] < 1:
        raise ValueError("picture has shape %s; (H, W, 3) is taken" % (picture.shape,))
    if picture.shape[1] % 4 != 0 or picture.shape[1] < 4:
        raise ValueError(
            "picture is %d pixels wide; the filters take widths that are multiples of 4"
            % picture.shape[1]
        )
    return _np.ascontiguousarray(picture)


def subsample(picture):
    """Halves a (480, 640, 3) uint8 RGB picture to (240, 320, 3): the floor
    mean of each 2x2 square, as the encoder's input is halved."""
    return _quill32.subsample(_picture(picture, "picture", ((640, 480),)))


def combine(first, second):
    """The (480, 640, 3) picture of two (240, 320, 3) uint8 RGB fields."""
    return _quill32.combine(
        _picture(first, "first", ((320, 240),)), _picture(second, "second", ((320, 240),))
    )


def vector_level():
    """The name of the library's vector level in effect ("plain", "sse2",
    "avx2", "avx512bw" or "avx512vbmi")."""
    return _quill32.vector_level()


def set_vector_level(name):
    """Sets the library's vector level, capped at the processor's best, and
    returns the level now in effect; ValueError for a name that is no level.
    Every level gives the same bytes. The level is the whole process's: each
    thread's calls take it up from their next call. At import the package
    takes the level from QUILL32_VECTOR_LEVEL, as the quill tool does."""
    level = _quill32.set_vector_level(str(name))
    if level is None:
        raise ValueError(
            "%r is no vector level (plain, sse2, avx2, avx512bw or avx512vbmi)" % (name,)
        )
    return level


def _level_from_environment():
    wanted = _os.environ.get("QUILL32_VECTOR_LEVEL", "")
    if wanted and _quill32.set_vector_level(wanted) is None:
        import warnings

        warnings.warn(
            "QUILL32_VECTOR_LEVEL=%s: no such vector level; %s is used"
            % (wanted, _quill32.vector_level()),
            RuntimeWarning,
        )


_level_from_environment()

try:
    import PIL as _PIL  # noqa: F401
except ImportError:  # no Pillow: arrays only
    pass
else:
    from . import pillow as _pillow  # noqa: F401  (registers the plugin)
