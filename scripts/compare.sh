#!/usr/bin/env bash
# Times QUILL32 side by side with libturbojpeg on the same pictures (see
# bench/compare_bench.cpp) and prints the ratios ours / theirs, at each
# vector level given (plain, sse2, avx2, avx512bw, avx512vbmi), or at every
# level this processor has when none is given. libturbojpeg runs at the
# matching level: none of its SIMD for plain (JSIMD_FORCENONE), SSE2 for
# sse2 (JSIMD_FORCESSE2), its best (AVX2) for the others. Options after the
# levels go to the benchmark.
#
# Beside the times, when valgrind is installed, a table of callgrind
# instruction counts per frame of the photo decodes (bench/compare_load.cpp
# on the benchmark's own JPEGs): quill.h's 320x240 decode to RGB against one
# tjDecompress2 to RGB, and its 640x480 sharpened decode against four.
# Counts repeat exactly where times on a shared machine do not; each is the
# difference between the totals of 2N and N repeats, divided by N, which
# takes out the start-up. Valgrind runs no AVX-512, so the avx512 levels
# have no counts; libturbojpeg takes the same SIMD under valgrind as outside
# (AVX2 unless a JSIMD_FORCE variable says otherwise).
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
cmake --build build/release -j "$jobs" --target quill32_compare quill32_compare_load \
  >/dev/null

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
load=build/release/bench/quill32_compare_load
photos=(astronaut chelsea coffee)
repeats=10
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions per repeat of the load's MODE on FILE, under the variables
# given after them.
per_repeat() {
  local mode=$1 file=$2 n totals=()
  shift 2
  for n in "$repeats" $((2 * repeats)); do
    env "$@" valgrind -q --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
      "$load" "$mode" "$file" "$n" >/dev/null || return 1
    totals+=("$(sed -n 's/^totals: *//p' "$work/callgrind.out")")
  done
  echo $(((totals[1] - totals[0]) / repeats))
}

# The table of counts at one level, under the variables given after it.
callgrind_table() {
  local level=$1 photo ours_count theirs_count
  shift
  case "$level" in
    avx512*)
      echo "callgrind at $level: n/a under valgrind (it runs no AVX-512)"
      return
      ;;
  esac
  env "$@" "$bench" --write_jpegs="$work"
  echo "callgrind instructions per frame (start-up taken out):"
  printf '%-10s %-20s %12s %14s %6s\n' level case "ours Minstr" "theirs Minstr" ratio
  for photo in "${photos[@]}"; do
    ours_count=$(per_repeat rgb "samples/photos/$photo.yuv" "$@")
    theirs_count=$(per_repeat theirs-rgb "$work/$photo.jpg" "$@")
    count_row "$level" "rgb320-$photo" "$ours_count" "$theirs_count"
    ours_count=$(per_repeat path640 "samples/photos/$photo.yuv" "$@")
    theirs_count=$(per_repeat theirs-x4 "$work/$photo.jpg" "$@")
    count_row "$level" "path640-$photo" "$ours_count" "$theirs_count"
  done
}

# One row: LEVEL CASE OURS THEIRS, the counts in millions and their ratio.
count_row() {
  awk -v level="$1" -v name="$2" -v ours="$3" -v theirs="$4" 'BEGIN {
    printf "%-10s %-20s %12.3f %14.3f %6.2f\n", level, name, ours / 1e6, theirs / 1e6, ours / theirs
  }'
}

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
  if command -v valgrind >/dev/null; then
    callgrind_table "$level" QUILL32_VECTOR_LEVEL="$level" "${theirs[@]}"
  else
    echo "callgrind instruction counts: SKIPPED (valgrind is not installed)"
  fi
done
