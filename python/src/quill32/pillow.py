"""The Pillow plugin for QUILL32 frames, registered by ``import quill32``.

``PIL.Image.open(path)`` opens a frame as a 320x240 RGB image (format
"QUILL32"; ``image.info["quill32"]`` holds ``quill32.inspect``'s report), and
``image.save(path, format="QUILL32")``, or to a path ending in ``.yuv``,
writes one from a 320x240 or 640x480 image (the larger halved first).

A frame has no magic number, so the plugin is tried after every other
format that Pillow has, and claims a file of exactly 24,576 bytes whose
quality step the decoder takes only when the frame checks clean and ends in
one of the encoder's tags, or when its name ends in ``.yuv`` (a legacy or a
damaged frame). Text, other formats cut short and random bytes of that size
stay unidentified.

``Image.draft`` and ``Image.thumbnail`` get no reduced decode: a frame has
a single scale, 320x240 (the decoder's doubled 640x480 is larger still),
and decoding it costs about as much as Pillow's resize of the result, so
``draft`` leaves the image as it is and ``thumbnail`` resizes the full
picture.
"""

import os

from PIL import Image, ImageFile

import quill32

FORMAT = "QUILL32"


class QuillImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "QUILL32 frame"

    def _open(self):
        start = self.fp.tell()
        self.fp.seek(0, 2)
        size = self.fp.tell() - start
        self.fp.seek(start)
        if size != quill32.FRAME_BYTES:
            raise SyntaxError("not a QUILL32 frame: not 24576 bytes")
        report = quill32.inspect(self.fp.read(quill32.FRAME_BYTES))
        if "quality step out of the decoder's range" in report["problems"]:
            raise SyntaxError("not a QUILL32 frame: its quality step is out of range")
        if (report["damaged"] or report["kind"] != "tagged") and not self._named_as_frame():
            raise SyntaxError("not a QUILL32 frame: no clean tagged frame, and not named .yuv")
        self.fp.seek(start)
        self.mode = "RGB"
        self._size = (320, 240)
        self.info[FORMAT.lower()] = report
        self.tile = [(FORMAT, (0, 0) + self.size, start, None)]

    def _named_as_frame(self):
        name = self.filename or getattr(self.fp, "name", "")
        if not isinstance(name, (str, bytes, os.PathLike)):
            return False
        return os.fsdecode(name).lower().endswith(".yuv")


class QuillDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer):
        frame = self.fd.read(quill32.FRAME_BYTES)
        if len(frame) != quill32.FRAME_BYTES:
            raise OSError("frame is cut short: %d of %d bytes" % (len(frame), quill32.FRAME_BYTES))
        # Decoded once, and the array's rows handed to Pillow as they are
        # (no bytes copy in between).
        self.set_as_raw(quill32.decode(frame))
        return -1, 0


def _save(image, fp, filename):
    resize = image.encoderinfo.get("resize")
    fp.write(quill32._encode(image, resize, "image"))


# Every other plugin first: the frame's test is the weakest.
Image.init()
Image.register_open(FORMAT, QuillImageFile)
Image.register_decoder(FORMAT, QuillDecoder)
Image.register_save(FORMAT, _save)
Image.register_extension(FORMAT, ".yuv")
