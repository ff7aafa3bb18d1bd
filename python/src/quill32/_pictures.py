"""Pictures as the encoder takes them, by the rules the quill tool follows,
so that the tool and the package give the same bytes:

- samples deeper than 8 bits give their top byte (0x8000 -> 128); gamma and
  colour-space chunks are not applied; grey is replicated to R=G=B; low-bit
  grey is scaled to 8 bits (v * 255 / (2^bits - 1));
- alpha is put on black: c' = (c * a + 127) // 255;
- 320x240 is taken as it is and 640x480 is halved by the library; any other
  size is brought to 320x240 by "fit", "fill" or "crop", with an exact area
  average (no intermediate rounding), JPEG files first decoded at the DCT
  scale that Image.draft picks.
"""

import re

import numpy as np

WIDTH, HEIGHT = 320, 240
SIZES = ((320, 240), (640, 480))
RESIZE_MODES = ("fit", "fill", "crop")

# Pillow's modes of 16-bit grey (a 16-bit grey PNG opens as "I").
_DEEP_GREY = ("I", "I;16", "I;16L", "I;16B", "I;16N")
# The bits of a grey PNG's samples, by the raw mode Pillow reads them with.
_GREY_BITS = {"1": 1, "L;2": 2, "L;4": 4}


def composite_on_black(rgb, alpha):
    """Each channel times alpha / 255, rounded half up, in integers."""
    return ((rgb.astype(np.uint32) * alpha[..., None] + 127) // 255).astype(np.uint8)


def _rawmode(image):
    """The raw mode an image not yet loaded will be read with, or None."""
    tile = getattr(image, "tile", None)
    if not tile or len(tile[0]) < 4:
        return None
    args = tile[0][3]
    return args if isinstance(args, str) else (args[0] if args else None)


def _source(image):
    """Where a PIL image was read from: its open file (rewound) or its
    file's name; None when neither is left."""
    fp = getattr(image, "fp", None)
    if fp is not None and not getattr(fp, "closed", False):
        fp.seek(0)
        return fp
    return getattr(image, "filename", None) or None


def _png_header(image):
    """(bit depth, colour type) from a PNG image's header, read back from its
    file; None when it cannot be (or is not this image's). Pillow keeps
    neither, and Image.save loads an image before a plugin sees it."""
    if getattr(image, "format", None) != "PNG":
        return None
    fp = getattr(image, "fp", None)
    where = fp.tell() if fp is not None and not getattr(fp, "closed", False) else None
    try:
        source = _source(image)
        if source is None:
            return None
        if isinstance(source, (str, bytes)) or hasattr(source, "__fspath__"):
            with open(source, "rb") as f:
                head = f.read(26)
        else:
            head = source.read(26)
    except (OSError, ValueError):
        return None
    finally:
        if where is not None:
            fp.seek(where)
    if len(head) < 26 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    size = (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big"))
    return (head[24], head[25]) if size == image.size else None


def _png_grey_bits(image):
    """The bits of a grey PNG's samples (Pillow scales 1-, 2- and 4-bit grey
    but keeps its tRNS value unscaled)."""
    header = _png_header(image)
    return header[0] if header and header[1] == 0 and header[0] in (1, 2, 4) else 8


def _low_bytes(image):
    """The low bytes of a 16-bit RGB PNG's samples, of which Pillow keeps
    the top ones: the file read again, each sample's other byte unpacked.
    None when the file cannot be read again."""
    from PIL import Image

    fp = getattr(image, "fp", None)
    where = fp.tell() if fp is not None and not getattr(fp, "closed", False) else None
    try:
        source = _source(image)
        if source is None:
            return None
        twin = Image.open(source)
        if twin.format != "PNG" or twin.size != image.size or _rawmode(twin) != "RGB;16B":
            return None
        decoder, box, offset, _ = twin.tile[0]
        twin.tile = [(decoder, box, offset, "RGB;16L")]  # the byte after each top byte
        twin.load()
        return np.asarray(twin)
    except (OSError, ValueError, SyntaxError):
        return None
    finally:
        if where is not None:
            fp.seek(where)


def _grey(image, rawmode, name):
    """A grey image's 8-bit samples, its tRNS colour put on black."""
    transparent = image.info.get("transparency")
    if image.mode in _DEEP_GREY:
        deep = np.asarray(image).astype(np.int64)
        if deep.size and (deep.min() < 0 or deep.max() > 0xFFFF):
            raise ValueError("%s has samples outside 0..65535; 16-bit grey is taken" % name)
        grey = (deep >> 8).astype(np.uint8)
        keyed = deep == transparent if isinstance(transparent, int) else None
    else:
        grey = np.asarray(image.convert("L"))
        keyed = None
        if isinstance(transparent, int):
            bits = 1 if image.mode == "1" else _GREY_BITS.get(rawmode) or _png_grey_bits(image)
            if transparent < 1 << bits:
                keyed = grey == transparent * 255 // ((1 << bits) - 1)
    if keyed is not None:
        grey = np.where(keyed, 0, grey).astype(np.uint8)
    return np.repeat(grey[..., None], 3, axis=2)


def _rgb(image, low):
    """An RGB image's samples (Pillow keeps the top byte of 16-bit ones), its
    tRNS colour put on black; `low`: the low bytes of 16-bit samples."""
    rgb = np.asarray(image)
    transparent = image.info.get("transparency")
    if isinstance(transparent, tuple) and len(transparent) == 3:
        colour = np.array(transparent)
        if low is not None:
            keyed = np.all((rgb.astype(np.int64) << 8 | low) == colour, axis=2)
        else:
            keyed = np.all(rgb == colour, axis=2)
        rgb = np.where(keyed[..., None], 0, rgb).astype(np.uint8)
    return rgb


def _deep_rgb(image, rawmode):
    """Whether an RGB image with a transparent colour was read from 16-bit
    samples (a colour above 255 can only be one of 16 bits)."""
    if rawmode is not None:
        return rawmode == "RGB;16B"
    return _png_header(image) == (16, 2) or max(image.info["transparency"]) > 255


_PNM_BANDS = {b"P2": 1, b"P3": 3, b"P5": 1, b"P6": 3}


def _pnm_file(image):
    """A PNM image's file bytes, read back (Pillow keeps no maxval, and
    Image.save loads an image before a plugin sees it); None when the file
    is gone."""
    fp = getattr(image, "fp", None)
    where = fp.tell() if fp is not None and not getattr(fp, "closed", False) else None
    try:
        source = _source(image)
        if source is None:
            return None
        if where is not None:  # the image's own open file
            return source.read()
        with open(source, "rb") as f:
            return f.read()
    except (OSError, ValueError):
        return None
    finally:
        if where is not None:
            fp.seek(where)


def _pnm_samples(image, name):
    """A grey or colour PNM image's samples as (H, W, 3) uint8, read from its
    file: 16-bit samples (maxval 65535) by their top byte, other maxvals
    scaled, (v * 255 + maxval / 2) / maxval (Pillow rounds half to even and
    keeps 16-bit grey as it is). None for any other image, or one whose file
    is gone (taken as Pillow read it)."""
    if getattr(image, "format", None) != "PPM" or image.mode not in ("RGB", "L", "I"):
        return None
    data = _pnm_file(image)
    header = re.match(rb"(P[2356])((?:\s|#[^\n\r]*)+\d+){3}\s", data or b"")
    if header is None:
        return None
    magic = header.group(1)
    numbers = re.sub(rb"#[^\n\r]*", b" ", header.group(0)[2:]).split()
    width, height, maxval = map(int, numbers)
    if (width, height) != image.size or not 0 < maxval < 0x10000:
        return None
    bands = _PNM_BANDS[magic]
    count = width * height * bands
    body = data[header.end() :]
    if magic in (b"P5", b"P6"):
        dtype = np.dtype(">u2" if maxval > 255 else "u1")
        samples = np.frombuffer(body[: count * dtype.itemsize], dtype)
    else:  # numbers between white space, comments from # to the line's end
        samples = np.array(re.sub(rb"#[^\n\r]*", b" ", body).split()[:count], dtype=np.int64)
    if samples.size < count:
        raise ValueError("%s is a PNM file cut short" % name)
    samples = samples.astype(np.int64)
    if samples.max() > maxval:
        raise ValueError("%s has a sample above its maxval %d" % (name, maxval))
    if maxval == 0xFFFF:
        samples >>= 8
    else:
        samples = (samples * 255 + maxval // 2) // maxval
    picture = samples.astype(np.uint8).reshape(height, width, bands)
    return picture if bands == 3 else np.repeat(picture, 3, axis=2)


def rgb_of_image(image, name):
    """A PIL image as an (H, W, 3) uint8 RGB array, by the rules above."""
    if image.mode == "CMYK":
        raise ValueError("%s is a CMYK picture; RGB and grey pictures are taken" % name)
    pnm = _pnm_samples(image, name)
    if pnm is not None:
        return pnm
    rawmode = _rawmode(image)
    low = None
    if image.mode == "RGB" and isinstance(image.info.get("transparency"), tuple):
        if _deep_rgb(image, rawmode):
            low = _low_bytes(image)
            if low is None:
                raise ValueError(
                    "%s is a 16-bit PNG with a transparent colour, and its file cannot be read"
                    " again to compare all 16 bits" % name
                )
    image.load()
    if image.mode in _DEEP_GREY or image.mode in ("1", "L"):
        return _grey(image, rawmode, name)
    if image.mode == "RGB":
        return _rgb(image, low)
    has_alpha = "A" in image.getbands() or image.mode in ("RGBa", "La")
    if has_alpha or "transparency" in image.info:
        rgba = np.asarray(image.convert("RGBA"))
        return composite_on_black(rgba[..., :3], rgba[..., 3])
    return np.asarray(image.convert("RGB"))


def rgb_of_array(picture, name):
    """An (H, W, 3) or (H, W, 4) array of uint8 or uint16 as (H, W, 3) uint8."""
    if picture.dtype not in (np.uint8, np.uint16):
        raise ValueError("%s has dtype %s; uint8 or uint16 is taken" % (name, picture.dtype))
    if picture.ndim != 3 or picture.shape[2] not in (3, 4):
        raise ValueError("%s has shape %s; (H, W, 3) or (H, W, 4) is taken" % (name, picture.shape))
    if picture.dtype == np.uint16:
        picture = (picture >> 8).astype(np.uint8)
    if picture.shape[2] == 4:
        return composite_on_black(picture[..., :3], picture[..., 3])
    return picture


def fit_size(width, height):
    """The size a width x height picture is resized to to fit in 320x240."""
    if width * HEIGHT >= height * WIDTH:
        return WIDTH, max(1, (height * WIDTH + width // 2) // width)
    return max(1, (width * HEIGHT + height // 2) // height), HEIGHT


def fill_size(width, height):
    """The size a width x height picture is resized to to cover 320x240."""
    if width * HEIGHT >= height * WIDTH:
        return max(WIDTH, (width * HEIGHT + height // 2) // height), HEIGHT
    return WIDTH, max(HEIGHT, (height * WIDTH + width // 2) // width)


def _integrals(samples, size, first, count, axis):
    """Along `axis`, where each of the n samples is `size` long and output k
    covers [k * n, (k + 1) * n): the integral of the samples over outputs
    first .. first + count - 1, exactly, in integers. From the running sum
    S: the integral up to t is size * S[t // size] + (t % size) * p[t // size].
    This is the area weighting, without the (mostly zero) weights."""
    n = samples.shape[axis]
    shape = list(samples.shape)
    shape[axis] = 1
    zero = np.zeros(shape, np.int64)
    running = np.concatenate([zero, np.cumsum(samples, axis=axis, dtype=np.int64)], axis=axis)
    padded = np.concatenate([samples.astype(np.int64), zero], axis=axis)
    edges = np.arange(first, first + count + 1, dtype=np.int64) * n
    whole, part = edges // size, edges % size
    part = part.reshape([-1 if a == axis else 1 for a in range(samples.ndim)])
    upto = size * np.take(running, whole, axis=axis) + part * np.take(padded, whole, axis=axis)
    return np.diff(upto, axis=axis)


def area_average(picture, width, height, window=None):
    """The exact area average of an (H, W, 3) uint8 picture at width x height,
    rounded half up once at the end: input column i covers [i * width,
    (i + 1) * width) and output column x covers [x * W, (x + 1) * W) on a
    common axis, rows likewise; each output is the sum of the inputs weighted
    by the areas they share with it, over W * H. Only `window` (left, top,
    columns, rows) of the result is made, when given (a fill keeps 320x240 of
    what may be far more)."""
    rows, columns = picture.shape[:2]
    left, top, out_columns, out_rows = window or (0, 0, width, height)
    narrowed = np.empty((rows, out_columns, 3), np.int64)
    for first in range(0, rows, 256):  # a band at a time keeps the copies small
        band = picture[first : first + 256]
        narrowed[first : first + len(band)] = _integrals(band, width, left, out_columns, 1)
    total = _integrals(narrowed, height, top, out_rows, 0)
    area = rows * columns
    return ((total + area // 2) // area).astype(np.uint8)


def _offset(size, frame):
    """Where a picture `size` long goes on a frame `frame` long: centred, the
    halves rounded down (a larger one starts (size - frame) // 2 before)."""
    return (frame - size) // 2 if size <= frame else -((size - frame) // 2)


def _placed(picture, left, top):
    """The picture placed at (left, top) on a black 320x240, or its 320x240
    window from (-left, -top) where it is larger."""
    frame = np.zeros((HEIGHT, WIDTH, 3), np.uint8)
    rows, columns = picture.shape[:2]
    src_x, dst_x = max(0, -left), max(0, left)
    src_y, dst_y = max(0, -top), max(0, top)
    w = min(columns - src_x, WIDTH - dst_x)
    h = min(rows - src_y, HEIGHT - dst_y)
    frame[dst_y : dst_y + h, dst_x : dst_x + w] = picture[src_y : src_y + h, src_x : src_x + w]
    return frame


def to_frame_size(picture, resize, name):
    """An (H, W, 3) uint8 picture as the encoder takes it: 320x240 or 640x480
    as it is, any other size brought to 320x240 by `resize`."""
    rows, columns = picture.shape[:2]
    if (columns, rows) in SIZES:
        return picture
    if not rows or not columns:
        raise ValueError("%s is %dx%d; an empty picture is no picture" % (name, columns, rows))
    if resize is None:
        raise ValueError(
            '%s is %dx%d; a frame holds 320x240: give resize="fit", "fill" or "crop"'
            % (name, columns, rows)
        )
    if resize == "fit":
        columns, rows = fit_size(columns, rows)
        picture = area_average(picture, columns, rows)
    elif resize == "fill":
        columns, rows = fill_size(columns, rows)
        left, top = (columns - WIDTH) // 2, (rows - HEIGHT) // 2
        return area_average(picture, columns, rows, (left, top, WIDTH, HEIGHT))
    return _placed(picture, _offset(columns, WIDTH), _offset(rows, HEIGHT))


def check_resize(resize):
    if resize is not None and resize not in RESIZE_MODES:
        raise ValueError('resize is %r; "fit", "fill" or "crop" is taken' % (resize,))


def draft_jpeg(image, resize):
    """Has a JPEG image that is not loaded yet decode at the DCT scale the
    resize target allows (Image.draft: the largest of 1/8, 1/4, 1/2 and 1
    that keeps it at least as large as the target)."""
    if resize not in ("fit", "fill") or getattr(image, "format", None) != "JPEG":
        return
    if not getattr(image, "tile", None) or image.mode == "CMYK":
        return
    target = (fit_size if resize == "fit" else fill_size)(*image.size)
    image.draft(image.mode, target)


def frame_picture(picture, resize, name):
    """Any picture the package takes (a PIL image, an array) as the (240, 320,
    3) or (480, 640, 3) uint8 RGB array the library encodes."""
    check_resize(resize)
    if not isinstance(picture, np.ndarray) and hasattr(picture, "getbands"):
        draft_jpeg(picture, resize)
        rgb = rgb_of_image(picture, name)
    elif isinstance(picture, np.ndarray):
        rgb = rgb_of_array(picture, name)
    else:
        raise ValueError("%s must be a numpy array or a PIL image" % name)
    return to_frame_size(rgb, resize, name)
