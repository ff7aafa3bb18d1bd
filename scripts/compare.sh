#!/usr/bin/env bash
# Times QUILL32 side by side with libturbojpeg on the same pictures (see
# bench/compare_bench.cpp) and prints the ratios ours / theirs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! dpkg -s libturbojpeg0-dev >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends libturbojpeg0-dev
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release -DQUILL32_TESTS=OFF \
  -DQUILL32_TOOLS=OFF -DQUILL32_WINDOWS=OFF >/dev/null
cmake --build build/release -j "$jobs" --target quill32_compare >/dev/null
build/release/bench/quill32_compare --benchmark_color=false "$@"
