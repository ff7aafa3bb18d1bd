#!/usr/bin/env bash
# The archive benchmark (bench/archive_bench.py): frames -> PNG with quill,
# built as the benchmarks are (Release), against Pillow in the same run.
# Arguments go to the benchmark (--frames N, --reps R, --memory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! dpkg -s python3-pil >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends python3-pil
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release -DQUILL32_TESTS=OFF \
  -DQUILL32_WINDOWS=OFF >/dev/null
cmake --build build/release -j "$jobs" --target quill >/dev/null
/usr/bin/python3 bench/archive_bench.py build/release/tools/quill "$@"
