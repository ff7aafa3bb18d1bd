"""The page's figures (a benchmark, not a test): run by scripts/web_bench.sh.

Usage: web_bench.py SITE NATIVE_DECODE FRAMES...
  - decode + render of a dense photo frame at 320x240 to RGBA: the page's
    WebAssembly module in headless Chromium against the native library's
    plain level (NATIVE_DECODE, the same calls natively), in one run;
  - 1,000 frames opened into the grid: seconds from the file input to the
    last thumbnail, as the page counts them;
  - 3,000 frames opened: the tab's memory (the renderer process, which holds
    the page and its workers) and the browser process's.
FRAMES are cycled to make the 1,000 and 3,000 files.
"""

import base64
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
import page_test  # noqa: E402  (its server and browser)


def memory_mb(pid):
    """Resident, proportional (shared pages split) and private megabytes."""
    fields = {}
    for line in open(f"/proc/{pid}/smaps_rollup"):
        parts = line.split()
        if len(parts) == 3 and parts[2] == "kB":
            fields[parts[0].rstrip(":")] = int(parts[1]) / 1024
    return fields["Rss"], fields["Pss"], fields["Private_Clean"] + fields["Private_Dirty"]


def cpu_seconds(pids):
    """User and system time of these processes so far."""
    total = 0
    for pid in pids:
        try:
            fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += int(fields[11]) + int(fields[12])
    return total / os.sysconf("SC_CLK_TCK")


def chromium_processes(profile):
    """(kind, pid) of the Chromium processes of this profile's browser."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmd = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")
        except OSError:
            continue
        if len(cmd) > 0 and b" --" in cmd[0]:  # a title set over the arguments
            cmd = cmd[0].split(b" ")
        if not cmd or not cmd[0].endswith(b"chromium"):
            continue
        kind = next((a[7:].decode() for a in cmd if a.startswith(b"--type=")), "browser")
        if kind == "browser" and not any(profile.encode() in a for a in cmd):
            continue
        found.append((kind, int(pid)))
    return found


WASM_DECODE = """
const [frameBase64, module, done] = arguments;
const script = document.createElement('script');
script.src = module;
script.onload = async () => {
  const m = await createQuillModule();
  const q = m._qw_new(), frame = m._qw_alloc(24576), out = m._qw_alloc(320 * 240 * 4);
  m.HEAPU8.set(Uint8Array.from(atob(frameBase64), (c) => c.charCodeAt(0)), frame);
  for (let i = 0; i < 50; i++) m._qw_decode(q, frame, 0, 320, 0, out);  // warm-up
  const batches = [];
  for (let b = 0; b < 15; b++) {
    const start = performance.now();
    for (let i = 0; i < 50; i++) if (m._qw_decode(q, frame, 0, 320, 0, out) !== 0) return done(-1);
    batches.push((performance.now() - start) * 1000 / 50);
  }
  batches.sort((a, b) => a - b);
  done(batches[7]);
};
document.head.append(script);
"""


def open_many(driver, url, frames, count, work, profile):
    folder = os.path.join(work, f"frames-{count}")
    os.makedirs(folder)
    paths = []
    for n in range(count):
        path = os.path.join(folder, f"frame-{n:05}.yuv")
        shutil.copyfile(frames[n % len(frames)], path)
        paths.append(path)
    driver.get(url)
    pids = [pid for _, pid in chromium_processes(profile)]
    cpu = cpu_seconds(pids)
    started = time.monotonic()
    driver.find_element("id", "files").send_keys("\n".join(paths))
    page_test.call(driver, "quillPage.idle()")
    wall = time.monotonic() - started
    return page_test.call(driver, "quillPage.batchSeconds()"), wall, cpu_seconds(pids) - cpu


def main():
    site, native, photo, *frames = sys.argv[1:]
    photo_bytes = open(photo, "rb").read()
    def native_us():
        return float(subprocess.run([native, photo], check=True, capture_output=True, text=True,
                                    env={**os.environ, "QUILL32_VECTOR_LEVEL": "plain"}).stdout)

    work = tempfile.mkdtemp(prefix="quill-web-bench-")
    server, url = page_test.serve(site)
    profile = os.path.join(work, "profile")
    driver = page_test.browser(profile)
    try:
        driver.set_script_timeout(600)
        # Five rounds, the native and the two WebAssembly levels in turn, so
        # that a change in the machine's load falls on all three alike.
        times = {"native": [], "plain": [], "simd128": []}
        for _ in range(5):
            times["native"].append(native_us())
            for level, module in (("plain", "quill_web.js"), ("simd128", "quill_web_simd.js")):
                driver.get(url)  # a fresh page: one module in it
                times[level].append(driver.execute_async_script(
                    WASM_DECODE, base64.b64encode(photo_bytes).decode(), module))
        median = {k: sorted(v)[2] for k, v in times.items()}
        print(f"decode + render of {os.path.basename(photo)} at 320x240 to RGBA "
              "(medians of 5 rounds of 15 x 50; microseconds):")
        print(f"  native, plain level          {median['native']:8.1f}")
        for level in ("plain", "simd128"):
            print(f"  WebAssembly, {level:8} level  {median[level]:8.1f}, {median[level] / median['native']:.2f}x native"
                  f" (goal: at most 2.5x); rounds {', '.join('%.0f' % t for t in times[level])}")
        print(f"  native rounds {', '.join('%.0f' % t for t in times['native'])}")
        with open("/proc/loadavg") as f:
            load = f.read().split()[0]
        seconds, wall, cpu = open_many(driver, url, frames, 1000, work, profile)
        print(f"1,000 frames into the grid: {seconds:.2f} s as the page counts"
              f" ({wall:.2f} s with the file input's hand-over; goal: at most 5 s);"
              f" Chromium's processes used {cpu:.2f} s of processor time; load average {load}")
    finally:
        driver.quit()
    # A browser of its own for the memory: one page, one renderer besides
    # Chromium's spare one.
    profile = os.path.join(work, "profile-3000")
    driver = page_test.browser(profile)
    try:
        driver.set_script_timeout(600)
        seconds, wall, cpu = open_many(driver, url, frames, 3000, work, profile)
        for step in range(1, 21):  # scrolled through, as a user would look
            driver.execute_script(f"window.scrollTo(0, document.body.scrollHeight * {step} / 20)")
            time.sleep(0.2)
        time.sleep(2)
        heap = driver.execute_script("return performance.memory.usedJSHeapSize") / 2**20
        print(f"3,000 frames into the grid: {seconds:.2f} s; memory then (resident / proportional / private MB):")
        for kind, pid in sorted(chromium_processes(profile)):
            if kind in ("browser", "renderer"):
                print(f"  {kind:9} process {pid:7}: %7.1f / %7.1f / %7.1f" % memory_mb(pid))
        print(f"  the page's JavaScript heap {heap:.1f} MB; goal: the tab (the largest renderer) under about 200 MB")
    finally:
        driver.quit()
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
