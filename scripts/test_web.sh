#!/usr/bin/env bash
# The browser page: builds it (scripts/web.sh --build-only) and tests it in
# headless Chromium against build/gcc's quill tool (tests/web/page_test.py).
# Screenshots of the grid, of a 640x480 view and of a 320-pixel-wide window
# land in build/web/screenshots. Says SKIPPED where Chromium, its driver or
# Selenium is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
quill=${QUILL:-build/gcc/tools/quill}
[ -x "$quill" ] || { echo "test_web.sh: $quill is missing: build build/gcc first" >&2; exit 1; }
site=$(bash scripts/web.sh --build-only)
# Debian's Selenium is for Debian's python3, whichever python3 comes first.
/usr/bin/python3 tests/web/page_test.py "$site" "$quill" build/web/screenshots
