"""The browser page in headless Chromium, against the quill tool.

Usage: page_test.py SITE QUILL OUT_DIR
  SITE     the built page (build/web/site)
  QUILL    the quill tool, whose outputs are the reference
  OUT_DIR  where the screenshots go

Opens the samples, the photos, damaged frames, pictures and bad inputs
through the page's file input, then checks each frame's report and damage
mark against `quill info`, the pixels of its PNGs (320x240, 640x480
sharpened, with a second field, and those in the ZIP) against `quill decode`,
encoded pictures against `quill encode`, the messages for bad inputs, the
keyboard, a 320-pixel-wide window and the console. Prints SKIPPED and exits
0 where Chromium, its driver or Selenium is missing.
"""

import base64
import functools
import hashlib
import http.server
import importlib.util
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import zipfile

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FRAME = 24576


def skip_reason():
    for path in (CHROMIUM, DRIVER):
        if not os.access(path, os.X_OK):
            return f"{path} is missing"
    if importlib.util.find_spec("selenium") is None:
        return "python3-selenium is missing"
    return None


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def rgb_of_bmp(data):
    """Top-down RGB rows of a 24-bit bottom-up BMP."""
    offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<ii", data, 18)
    row = 3 * width
    out = bytearray()
    for y in range(height - 1, -1, -1):
        for x in range(0, row, 3):
            b, g, r = data[offset + y * row + x:offset + y * row + x + 3]
            out += bytes((r, g, b))
    return bytes(out)


def reference_hash(quill, frame, *options):
    bmp = run(quill, "decode", frame, "--format", "bmp", "-o", "-", "-q", *options)
    return hashlib.sha256(rgb_of_bmp(bmp)).hexdigest()


def bmp_file(width, height):
    row = 3 * width
    pixels = bytes((x * 7 + y) % 256 for y in range(height) for x in range(row))
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return header + info + pixels


def make_inputs(quill, work):
    """The files to open, in order: frames, damaged frames, pictures, bad inputs."""
    frames = sorted(os.path.join(ROOT, "samples", n) for n in os.listdir(os.path.join(ROOT, "samples"))
                    if n.endswith(".yuv"))
    frames += sorted(os.path.join(ROOT, "samples", "photos", n)
                     for n in os.listdir(os.path.join(ROOT, "samples", "photos")) if n.endswith(".yuv"))
    card = bytearray(open(os.path.join(ROOT, "samples", "testcard.yuv"), "rb").read())
    busy = bytearray(open(os.path.join(ROOT, "samples", "busy.yuv"), "rb").read())

    def damaged(name, frame):
        path = os.path.join(work, name)
        open(path, "wb").write(frame)
        frames.append(path)

    garbled = bytearray(busy)
    garbled[3000:3040] = b"\xff" * 40  # codes that match nothing, mid-luma
    damaged("garbled.yuv", garbled)
    step = bytearray(card)
    step[1] = 200  # a quality step no decoder takes
    damaged("impossible-step.yuv", step)
    summed = bytearray(card)
    summed[24000] = (summed[24000] + 0x55 - sum(card)) % 256  # past the bitstream: pixels unchanged
    damaged("sum-55.yuv", summed)
    overrun = bytearray(busy)
    overrun[12000:12030] = b"\xfe" * 30  # runs past the ends of two blocks
    damaged("overrun.yuv", overrun)

    png = os.path.join(work, "busy-picture.png")
    run(quill, "decode", os.path.join(ROOT, "samples", "busy.yuv"), "-o", png, "-q")
    odd = os.path.join(work, "odd-size.bmp")
    open(odd, "wb").write(bmp_file(100, 80))
    pictures = [os.path.join(ROOT, "samples", "testcard.bmp"), os.path.join(ROOT, "samples", "testcard640.bmp"), png]
    bad = {
        "ten-megabytes.yuv": (b"\0" * (10 << 20), "is 10485760 bytes; a frame is exactly 24576 bytes"),
        "one-short.yuv": (bytes(card[:-1]), "is 24575 bytes; a frame is exactly 24576 bytes"),
        "notes.txt": (b"not a frame\n" * 10, "is 120 bytes; a frame is exactly 24576 bytes"),
    }
    for name, (data, _) in bad.items():
        open(os.path.join(work, name), "wb").write(data)
    bad_paths = [os.path.join(work, n) for n in bad]
    messages = {n: m for n, (_, m) in bad.items()}
    messages["odd-size.bmp"] = "is 100x80; pictures of 320x240 or 640x480 are taken"
    # Bad inputs sit between good ones: the batch must go on past them.
    ordered = frames[:2] + bad_paths[:1] + frames[2:] + pictures[:1] + [odd] + bad_paths[1:] + pictures[1:]
    return ordered, frames, pictures, messages


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(site):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             functools.partial(QuietHandler, directory=site))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"


def browser(profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}", "--window-size=1280,900"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def call(driver, expression):
    """Awaits a page expression (a promise) and returns its value."""
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        f"Promise.resolve({expression}).then(done, (e) => done({{error: String(e)}}));")


class Checks:
    def __init__(self):
        self.failures = []

    def equal(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, want {want!r}")


def check_reports(check, driver, quill, frames, items_by_name):
    # `quill info` exits 1 when some frame is damaged; its report is complete.
    infos = json.loads(subprocess.run([quill, "info", "--json", *frames], capture_output=True).stdout)
    damaged_cards = {e.find_element("css selector", ".name").text
                     for e in driver.find_elements("css selector", "#grid li")
                     if e.find_elements("css selector", ".damaged")}
    for info in infos:
        name = os.path.basename(info["file"])
        item = items_by_name[name]
        check.equal(f"{name} state", item["state"], "ok")
        check.equal(f"{name} kind", item["kind"], info["kind"])
        check.equal(f"{name} quality step", item["step"], info["quality_step"])
        check.equal(f"{name} damage text", item["damageText"], "; ".join(info["problems"]))
    check.equal("cards marked damaged", damaged_cards,
                {os.path.basename(i["file"]) for i in infos if i["damaged"]})
    if not any(i["damaged"] for i in infos) or all(i["damaged"] for i in infos):
        check.failures.append("the inputs must hold damaged and sound frames")
    return infos


def check_pixels(check, driver, quill, frames, index_of, decodable):
    names = {os.path.basename(f): f for f in frames}
    cases = [(os.path.basename(i["file"]), 320, False, None, ()) for i in decodable]
    cases += [
        ("testcard.yuv", 640, True, None, ("--size", "640x480", "--sharpen")),
        ("legacy.yuv", 640, False, None, ("--size", "640x480")),
        ("astronaut.yuv", 640, False, "chelsea.yuv", ("--size", "640x480", "--field2",
                                                      names.get("chelsea.yuv", ""))),
        ("busy.yuv", 320, True, None, ("--sharpen",)),
    ]
    for name, width, sharpen, field2, options in cases:
        field2_index = "undefined" if field2 is None else index_of[field2]
        got = call(driver, f"quillPage.pngHash({index_of[name]}, {width}, {str(sharpen).lower()}, {field2_index})")
        check.equal(f"{name} pixels at {width}, sharpen {sharpen}, field2 {field2}", got,
                    reference_hash(quill, names[name], *options))


def check_zip(check, driver, quill, frames, decodable):
    archive = zipfile.ZipFile(io.BytesIO(base64.b64decode(call(driver, "quillPage.zipBase64()"))))
    check.equal("ZIP CRCs", archive.testzip(), None)
    from PIL import Image

    names = {os.path.basename(f): f for f in frames}
    for info in decodable:
        name = os.path.basename(info["file"])
        png = Image.open(io.BytesIO(archive.read(name[:-4] + ".png"))).convert("RGB")
        check.equal(f"{name} in the ZIP", hashlib.sha256(png.tobytes()).hexdigest(),
                    reference_hash(quill, names[name]))


def check_encoded(check, driver, quill, pictures, index_of, work):
    for picture in pictures:
        name = os.path.splitext(os.path.basename(picture))[0] + ".yuv"
        frame = os.path.join(work, "encoded-" + name)
        run(quill, "encode", picture, "-o", frame, "-q")
        check.equal(f"{name} encoded", call(driver, f"quillPage.frameHash({index_of[name]})"),
                    hashlib.sha256(open(frame, "rb").read()).hexdigest())


def check_folder(check, driver, url, work):
    """The folder picker takes a tree's frames in path order, hidden names skipped."""
    top = os.path.join(work, "archive")
    for rel in ("sub/a.yuv", ".hidden/b.yuv", "c.txt", "d.yuv", "sub/.e.yuv"):
        os.makedirs(os.path.dirname(os.path.join(top, rel)), exist_ok=True)
        shutil.copyfile(os.path.join(ROOT, "samples", "testcard.yuv"), os.path.join(top, rel))
    driver.get(url)
    driver.find_element("id", "folder").send_keys(top)
    call(driver, "quillPage.idle()")
    check.equal("frames of a folder", [(i["path"], i["state"]) for i in call(driver, "quillPage.items()")],
                [("archive/d.yuv", "ok"), ("archive/sub/a.yuv", "ok")])


def check_drop(check, driver, url):
    """Files dropped on the page open as picked ones do."""
    driver.get(url)
    frame = base64.b64encode(open(os.path.join(ROOT, "samples", "busy.yuv"), "rb").read()).decode()
    driver.execute_script("""
        const drop = new DataTransfer();
        drop.items.add(new File([Uint8Array.from(atob(arguments[0]), (c) => c.charCodeAt(0))], 'dropped.yuv'));
        drop.items.add(new File(['a note'], 'note.txt'));
        document.body.dispatchEvent(new DragEvent('drop', {dataTransfer: drop, bubbles: true, cancelable: true}));
    """, frame)
    call(driver, "new Promise((r) => setTimeout(r, 300)).then(() => quillPage.idle())")
    check.equal("dropped files", [(i["name"], i["state"], i["step"] if i["state"] == "ok" else i["error"])
                                  for i in call(driver, "quillPage.items()")],
                [("dropped.yuv", "ok", 8), ("note.txt", "failed", "is 6 bytes; a frame is exactly 24576 bytes")])


def check_view_and_screens(check, driver, out_dir):
    from selenium.webdriver.common.keys import Keys

    os.makedirs(out_dir, exist_ok=True)
    drawn = driver.execute_script("return [...document.querySelectorAll('#grid canvas.thumb')].slice(0, 4)"
                                  ".map(c => c.width)")
    check.equal("first thumbnails drawn", drawn, [160] * 4)
    driver.save_screenshot(os.path.join(out_dir, "grid.png"))
    first = driver.find_element("css selector", "#grid .card")
    first.send_keys(Keys.ARROW_RIGHT)
    focused = driver.execute_script("return document.activeElement.closest('li').dataset.index")
    check.equal("arrow key moves to the next card", focused, "1")
    driver.switch_to.active_element.send_keys(Keys.ARROW_LEFT, Keys.ENTER)
    driver.find_element("id", "view-sharpen").click()
    call(driver, "new Promise((r) => setTimeout(r, 500))")
    check.equal("view opened by the keyboard", driver.execute_script("return document.getElementById('view').open"),
                True)
    check.equal("view's text alternative", driver.find_element("id", "view-canvas").get_attribute("aria-label"),
                "busy.yuv at 640×480, sharpened")
    driver.find_element("id", "view").screenshot(os.path.join(out_dir, "view-640x480.png"))
    driver.find_element("id", "view").send_keys(Keys.ESCAPE)
    missing = driver.execute_script(
        "return [...document.querySelectorAll('#grid .card')].filter(c => !c.querySelector('[role=img][aria-label]')).length")
    check.equal("thumbnails without text", missing, 0)
    driver.set_window_size(320, 800)
    overflow = driver.execute_script("return document.documentElement.scrollWidth")
    check.equal("page width in a 320-pixel window", overflow <= 320, True)
    driver.save_screenshot(os.path.join(out_dir, "narrow-320.png"))


def main():
    reason = skip_reason()
    if reason:
        print(f"SKIPPED: the browser tests ({reason})")
        return 0
    site, quill, out_dir = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="quill-web-")
    server, url = serve(site)
    driver = browser(os.path.join(work, "profile"))
    check = Checks()
    try:
        ordered, frames, pictures, messages = make_inputs(quill, work)
        # Every check at both levels of the module; the ZIP, the view and the
        # screens at the level the page chooses by itself (simd128 here).
        for level in ("simd128", "plain"):
            driver.get(url + "?level=" + level)
            driver.find_element("id", "files").send_keys("\n".join(ordered))
            call(driver, "quillPage.idle()")
            check.equal(f"{level}: level shown", level + " level" in driver.find_element("id", "level").text, True)
            items = call(driver, "quillPage.items()")
            items_by_name = {i["name"]: i for i in items}
            index_of = {i["name"]: n for n, i in enumerate(items)}
            check.equal(f"{level}: items in the grid", len(items), len(ordered))
            for name, message in messages.items():
                check.equal(f"{level}: {name} message",
                            (items_by_name[name]["state"], items_by_name[name]["error"]), ("failed", message))
            check.equal(f"{level}: impossible step message", items_by_name["impossible-step.yuv"]["decodeError"],
                        "cannot be decoded: its quality step 200 is out of range")
            decodable = [i for i in check_reports(check, driver, quill, frames, items_by_name)
                         if not items_by_name[os.path.basename(i["file"])]["decodeError"]]
            check_pixels(check, driver, quill, frames, index_of, decodable)
            check_encoded(check, driver, quill, pictures, index_of, work)
        driver.get(url)
        driver.find_element("id", "files").send_keys("\n".join(ordered))
        call(driver, "quillPage.idle()")
        check_zip(check, driver, quill, frames, decodable)
        origin = url.rstrip("/")
        foreign = driver.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)"
            ".filter(n => !n.startsWith(arguments[0]) && !n.startsWith('blob:') && !n.startsWith('data:'))",
            origin)
        check.equal("requests beyond the page's files", foreign, [])
        check_view_and_screens(check, driver, out_dir)
        check_folder(check, driver, url, work)
        check_drop(check, driver, url)
        errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        check.equal("console errors", errors, [])
    finally:
        driver.quit()
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    for failure in check.failures:
        print("FAIL:", failure)
    print(f"browser tests: {len(check.failures)} failures; screenshots in {out_dir}")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
