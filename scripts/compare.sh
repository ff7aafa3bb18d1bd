#!/usr/bin/env bash
# Times QUILL32 side by side with libturbojpeg on the same pictures (see
# bench/compare_bench.cpp) and prints the ratios ours / theirs, at each
# vector level given (plain, sse2, avx2, avx512bw, avx512vbmi), or at every
# level this processor has when none is given. libturbojpeg runs at the
# matching level: none of its SIMD for plain (JSIMD_FORCENONE), SSE2 for
# sse2 (JSIMD_FORCESSE2), its best (AVX2) for the others. Options after the
# levels go to the benchmark.
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

levels=()
while [ $# -gt 0 ] && [[ "$1" != -* ]]; do
  levels+=("$1")
  shift
done
every=0
if [ ${#levels[@]} -eq 0 ]; then
  levels=(plain sse2 avx2 avx512bw avx512vbmi)
  every=1
fi
bench=build/release/bench/quill32_compare
for level in "${levels[@]}"; do
  case "$level" in
    plain) theirs=(JSIMD_FORCENONE=1) ;;
    sse2) theirs=(JSIMD_FORCESSE2=1) ;;
    avx2 | avx512bw | avx512vbmi) theirs=() ;;
    *)
      echo "compare.sh: $level: no such vector level (plain, sse2, avx2, avx512bw, avx512vbmi)" >&2
      exit 2
      ;;
  esac
  # The bench refuses a level above the processor's best; when every level
  # was asked for, that ends the list.
  if ! env QUILL32_VECTOR_LEVEL="$level" "$bench" --benchmark_list_tests >/dev/null 2>&1; then
    [ "$every" -eq 1 ] && break
    echo "compare.sh: $level: above the best vector level of this processor" >&2
    exit 1
  fi
  echo "== vector level $level (libturbojpeg: ${theirs[*]:-its default})"
  env QUILL32_VECTOR_LEVEL="$level" "${theirs[@]}" "$bench" --benchmark_color=false "$@" |
    grep -E '^(ratio|JPEG|attempts)'
done
