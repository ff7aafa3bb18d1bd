#!/usr/bin/env bash
# The main job: builds QUILL32 and its `quill` tool, then runs them on the
# sample data: decodes every sample frame at 320x240 and at 640x480
# (sharpened), the photo frames (a folder walked), encodes the test card,
# and checks all frames. Outputs go to
# out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/gcc -j "$jobs" --target quill >/dev/null

quill=build/gcc/tools/quill
out=out/demo
mkdir -p "$out"
set -x
"$quill" decode samples/*.yuv -d "$out/320x240"
"$quill" decode samples/*.yuv --size 640x480 --sharpen -d "$out/640x480"
"$quill" decode -r samples/photos -d "$out"
"$quill" encode samples/testcard.bmp -o "$out/testcard.yuv"
"$quill" info samples/*.yuv "$out/testcard.yuv"
{ set +x; } 2>/dev/null
echo "Pictures and frames are in $out/"
