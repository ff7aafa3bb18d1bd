#!/usr/bin/env bash
# Makes samples/photos/: fetches Debian's python3-skimage package (without
# installing it), crops five of its photos to 4:3, resizes them to 320x240
# with Pillow and encodes them with quill. Needs python3-pil.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/gcc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download python3-skimage >/dev/null && dpkg-deb -x python3-skimage_*.deb root)
data=$(echo "$work"/root/usr/lib/python3/dist-packages/skimage/data)
/usr/bin/python3 - "$data" "$work" <<'PY'
import sys
from PIL import Image
data, work = sys.argv[1:]
for name, file in [("astronaut", "astronaut.png"), ("chelsea", "chelsea.png"),
                   ("coffee", "coffee.png"), ("hubble", "hubble_deep_field.jpg"),
                   ("rocket", "rocket.jpg")]:
    im = Image.open(f"{data}/{file}").convert("RGB")
    w, h = im.size
    if w * 3 > h * 4:
        nw = h * 4 // 3
        im = im.crop(((w - nw) // 2, 0, (w - nw) // 2 + nw, h))
    else:
        nh = w * 3 // 4
        im = im.crop((0, (h - nh) // 2, w, (h - nh) // 2 + nh))
    im.resize((320, 240), Image.LANCZOS).save(f"{work}/{name}.bmp")
PY
"$build/tools/quill" encode "$work"/*.bmp -d samples/photos
