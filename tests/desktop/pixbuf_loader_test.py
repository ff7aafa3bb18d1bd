"""The gdk-pixbuf loader through GdkPixbuf itself, with a private loaders
cache and a private MIME database (nothing is installed system-wide):
frames load to exactly `quill decode`'s pixels, whole and in pieces; damage
is in the options; what is no frame fails; GIO names frames by their .yuv
name; the thumbnailer and Eye of GNOME open a frame.

Usage: pixbuf_loader_test.py LOADER QUILL QUERY_LOADERS SOURCE_DIR OUT_DIR
LOADER "installed": the system's caches, as the Debian package left them.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

loader, quill, query_loaders, source, out_dir = sys.argv[1:6]
work = tempfile.mkdtemp(prefix="quill32-pixbuf-")
os.makedirs(out_dir, exist_ok=True)


def private_caches():
    """The private cache and MIME database, before GdkPixbuf first reads them."""
    system_loaders = os.path.join(os.path.dirname(query_loaders), "2.10.0", "loaders")
    modules = [os.path.join(system_loaders, m) for m in sorted(os.listdir(system_loaders))] + [loader]
    cache = os.path.join(work, "loaders.cache")
    with open(cache, "w") as f:
        subprocess.run([query_loaders, *modules], stdout=f, check=True)
    os.makedirs(os.path.join(work, "mime", "packages"))
    shutil.copy(os.path.join(source, "desktop", "quill32.xml"), os.path.join(work, "mime", "packages"))
    os.environ["GDK_PIXBUF_MODULE_FILE"] = cache
    os.environ["XDG_DATA_DIRS"] = work + ":" + os.environ.get("XDG_DATA_DIRS", "/usr/local/share:/usr/share")
    subprocess.run(["update-mime-database", os.path.join(work, "mime")], check=True)


if loader != "installed":
    private_caches()

import gi  # noqa: E402

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GLib  # noqa: E402

failures = []


def check(what, ok, detail=""):
    print(("ok: " if ok else "FAIL: ") + what + (f" ({detail})" if detail and not ok else ""))
    if not ok:
        failures.append(what)


def rgb_bytes(pixbuf):
    """The pixels as tight RGB rows."""
    w, h, stride, n = pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_rowstride(), pixbuf.get_n_channels()
    data = pixbuf.get_pixels()
    rows = [data[y * stride : y * stride + w * n] for y in range(h)]
    if n == 4:
        rows = [bytes(b for i, b in enumerate(r) if i % 4 != 3) for r in rows]
    return b"".join(rows)


def decoded_by_tool(frame, *args):
    png = os.path.join(work, "ref.png")
    subprocess.run([quill, "decode", "-q", frame, "-o", png, *args], check=True, stderr=subprocess.DEVNULL)
    return rgb_bytes(GdkPixbuf.Pixbuf.new_from_file(png))


def in_pieces(data, piece):
    loader = GdkPixbuf.PixbufLoader.new_with_type("quill32")
    for i in range(0, len(data), piece):
        loader.write(data[i : i + piece])
    loader.close()
    return loader.get_pixbuf()


def damaged_copy(name, offset, value):
    data = bytearray(open(os.path.join(source, "samples", "busy.yuv"), "rb").read())
    data[offset : offset + len(value)] = value
    path = os.path.join(work, name)
    open(path, "wb").write(data)
    return path


# Frames: samples, photos, and damaged ones (the tool decodes those as they are).
frames = [os.path.join(source, "samples", n) for n in ("testcard.yuv", "legacy.yuv", "busy.yuv")]
frames += [os.path.join(source, "samples", "photos", n) for n in ("astronaut.yuv", "chelsea.yuv")]
busy = open(os.path.join(source, "samples", "busy.yuv"), "rb").read()
frames += [damaged_copy("codes.yuv", 4000, b"\xff" * 64),
           # a byte past the bitstream that makes the frame sum 0x55, which
           # the encoder never writes
           damaged_copy("sum55.yuv", 24000, bytes([(0x55 - sum(busy) + busy[24000]) % 256]))]
for frame in frames:
    name = os.path.basename(frame)
    data = open(frame, "rb").read()
    expected = decoded_by_tool(frame)
    whole = GdkPixbuf.Pixbuf.new_from_file(frame)
    check(f"{name}: loads to the tool's pixels", rgb_bytes(whole) == expected)
    for piece in (1, 7, 4096):
        check(f"{name}: in pieces of {piece}", rgb_bytes(in_pieces(data, piece)) == expected)
    report = subprocess.run([quill, "info", frame], capture_output=True, text=True)
    damaged = report.returncode != 0
    option = whole.get_option("quill32::damage")
    check(f"{name}: damage option {'set' if damaged else 'absent'}", bool(option) == damaged, repr(option))
    kind = "legacy" if "legacy" in report.stdout else "tagged"
    check(f"{name}: kind option", whole.get_option("quill32::kind") == kind)

big = GdkPixbuf.Pixbuf.new_from_file_at_size(frames[0], 640, 480)
check("640x480 asked: the block-domain doubling", rgb_bytes(big) == decoded_by_tool(frames[0], "--size", "640x480"))
small = GdkPixbuf.Pixbuf.new_from_file_at_size(frames[0], 160, 120)
check("160x120 asked: scaled by gdk-pixbuf", (small.get_width(), small.get_height()) == (160, 120))
fmt, width, height = GdkPixbuf.Pixbuf.get_file_info(frames[0])
check("file info: 320x240, quill32", (fmt and fmt.get_name(), width, height) == ("quill32", 320, 240))

# What is no frame fails with a GError, promptly.
frame = open(frames[0], "rb").read()
bad_step = bytearray(frame)
bad_step[1] = 127
raw_video = bytes(176 * 144 * 3 // 2 * 20)
for name, data in (
    ("cut.yuv", frame[:-1]),
    ("raw-video.yuv", raw_video),
    ("notes.yuv", b"just some text\n" * 100),
    ("step127.yuv", bytes(bad_step)),
    ("empty.yuv", b""),
):
    path = os.path.join(work, name)
    open(path, "wb").write(data)
    start = time.monotonic()
    try:
        GdkPixbuf.Pixbuf.new_from_file(path)
        check(f"{name}: refused", False, "loaded")
    except GLib.Error as e:
        check(f"{name}: refused", True)
        print(f"    {name}: {e.message}")

# GIO's choice, as gdk-pixbuf asks: the content alone first, and the name
# only when that is uncertain (or plain text). A frame's content is unknown
# to GIO, so its .yuv name decides; other names and known content keep
# their types.
def chosen(name, data):
    guessed, uncertain = Gio.content_type_guess(None, data[:4096])
    if uncertain or Gio.content_type_get_mime_type(guessed) == "text/plain":
        guessed, _ = Gio.content_type_guess(name, data[:4096])
    return Gio.content_type_get_mime_type(guessed)


bmp = open(os.path.join(source, "samples", "busy.bmp"), "rb").read()
for name, data, expected in (
    ("frame.yuv", frame, "image/x-quill32"),
    ("notes.yuv", b"some text\n" * 50, "image/x-quill32"),
    ("frame.bin", frame, "application/octet-stream"),
    ("picture.yuv", bmp, "image/bmp"),
):
    check(f"gdk-pixbuf's type for {name}: {expected}", chosen(name, data) == expected, chosen(name, data))

# Saving: the tool's bytes for the same picture.
card = GdkPixbuf.Pixbuf.new_from_file(os.path.join(source, "samples", "testcard.bmp"))
saved = os.path.join(work, "saved.yuv")
card.savev(saved, "quill32", [], [])
encoded = os.path.join(work, "encoded.yuv")
subprocess.run([quill, "encode", "-q", os.path.join(source, "samples", "testcard.bmp"), "-o", encoded], check=True)
check("saving gives the tool's frame", open(saved, "rb").read() == open(encoded, "rb").read())
try:
    card.scale_simple(100, 100, GdkPixbuf.InterpType.BILINEAR).savev(saved, "quill32", [], [])
    check("saving 100x100 refused", False)
except GLib.Error:
    check("saving 100x100 refused", True)

# The thumbnailer, as the desktop runs it.
thumbnailer = shutil.which("gdk-pixbuf-thumbnailer")
if thumbnailer:
    thumb = os.path.join(out_dir, "thumbnail.png")
    subprocess.run([thumbnailer, "-s", "256", frames[0], thumb], check=True)
    t = GdkPixbuf.Pixbuf.new_from_file(thumb)
    check("gdk-pixbuf-thumbnailer -s 256", max(t.get_width(), t.get_height()) == 256)
else:
    print("SKIPPED: gdk-pixbuf-thumbnailer is missing")


def xwd_to_png(xwd, png):
    """Xvfb's framebuffer file (XWD, 24-bit TrueColor) to a PNG."""
    data = open(xwd, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header, width, height, bpp, line, ncolors = fields[0], fields[4], fields[5], fields[11], fields[12], fields[19]
    start = header + ncolors * 12
    rows = []
    for y in range(height):
        row = data[start + y * line : start + y * line + width * bpp // 8]
        rows.append(bytes(c for i in range(0, len(row), 4) for c in (row[i + 2], row[i + 1], row[i])))
    pixbuf = GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(b"".join(rows)), GdkPixbuf.Colorspace.RGB, False, 8,
                                             width, height, width * 3)
    pixbuf.savev(png, "png", [], [])
    return rows, width


# Eye of GNOME under a virtual X server, with a screenshot.
if shutil.which("eog") and shutil.which("Xvfb"):
    fbdir = os.path.join(work, "fb")
    os.makedirs(fbdir)
    display = ":%d" % (90 + os.getpid() % 50)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "800x600x24", "-fbdir", fbdir, "-nolisten", "tcp"],
                            stderr=subprocess.DEVNULL)
    env = dict(os.environ, DISPLAY=display, GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="1",
               XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_CACHE_HOME=os.path.join(work, "cache"))
    time.sleep(1)
    eog = subprocess.Popen(["eog", "--new-instance", frames[0]], env=env, stderr=subprocess.PIPE, text=True)
    shot = os.path.join(out_dir, "eog.png")
    colourful = 0
    for _ in range(30):
        time.sleep(0.5)
        rows, width = xwd_to_png(os.path.join(fbdir, "Xvfb_screen0"), shot)
        # The test card's colour bars: strongly coloured pixels on screen.
        colourful = sum(1 for r in rows[::8] for i in range(0, len(r), 24)
                        if max(r[i:i + 3]) - min(r[i:i + 3]) > 100)
        if colourful > 200:
            break
    eog.terminate()
    errors = eog.communicate()[1]
    xvfb.terminate()
    xvfb.wait()
    check(f"eog shows the frame (screenshot {shot})", colourful > 200, errors[-500:])
else:
    print("SKIPPED: eog or Xvfb is missing")

shutil.rmtree(work)
print(f"{len(failures)} failed" if failures else "all passed")
sys.exit(1 if failures else 0)
