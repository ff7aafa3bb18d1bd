#!/usr/bin/env bash
# The browser page's figures (not a test): WebAssembly decode + render of a
# dense photo frame against the native library's plain level, 1,000 frames
# into the grid, and the tab's memory with 3,000 frames open
# (bench/web/web_bench.py). Needs build/gcc (its static library) and Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
site=$(bash scripts/web.sh --build-only)
cmake --build build/gcc -j 2 --target quill32_static >/dev/null
native=build/web/native_decode
g++ -std=c++20 -O3 -Iinclude bench/web/native_decode.cpp build/gcc/libquill32.a -o "$native"
/usr/bin/python3 bench/web/web_bench.py "$site" "$native" samples/photos/astronaut.yuv \
  samples/photos/*.yuv samples/*.yuv
