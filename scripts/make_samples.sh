#!/usr/bin/env bash
# Redraws samples/: the pictures (tools/make_samples.cpp), the frames encoded
# from them, and a legacy frame (the test card's frame without its tag).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build/gcc}
"$build/tools/make_samples" samples
"$build/tools/quill" encode samples/testcard.bmp samples/busy.bmp -d samples
cp samples/testcard.yuv samples/legacy.yuv
printf '\x00' | dd of=samples/legacy.yuv bs=1 seek=24575 conv=notrunc status=none
