#!/usr/bin/env bash
# How the quill tool's worker threads scale: `info`, `decode --format bmp`
# and `decode` to PNG (durable writes, the default --sync batch) over 2,000
# frames (copies of samples/photos/*.yuv), -j 1 against -j 2. The runs of
# each case alternate between -j 1 and -j 2, so that a load that comes and
# goes on a shared machine falls on both; each figure is the median of the
# runs, with the fastest and slowest beside it.
#
#   bash bench/tool_threads.sh [path/to/quill] [runs]
#
# The last lines time the file system alone and the library alone (no
# tool, no files), for comparison: the tool's speed-ups cannot pass them by
# much.
# Defaults: build/gcc/tools/quill, 7 runs. Uses hyperfine when installed,
# else the shell's clock.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
quill=$(realpath "${1:-$root/build/gcc/tools/quill}")
runs=${2:-7}
frames=2000
[[ -x $quill ]] || { echo "tool_threads.sh: $quill: no such program (build the quill target)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quill-threads.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/frames"
photos=("$root"/samples/photos/*.yuv)
for ((i = 0; i < frames; ++i)); do
  cp "${photos[i % ${#photos[@]}]}" "$(printf '%s/frames/f%04d.yuv' "$work" "$i")"
done

# Seconds of one run of "$@" (outputs removed first, outside the clock).
seconds() {
  rm -rf "$work/out"
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

# median min max of the numbers on standard input.
summary() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}

# case NAME ARGS...: the tool's ARGS run with -j 1 and -j 2.
case_() {
  local name=$1
  shift
  local one=() two=()
  if command -v hyperfine > /dev/null; then
    hyperfine --runs "$runs" --prepare "rm -rf '$work/out'" --export-json "$work/h.json" \
      "$quill $* -j 1" "$quill $* -j 2" > /dev/null
    mapfile -t one < <(python3 -c 'import json,sys; [print(t) for t in json.load(open(sys.argv[1]))["results"][0]["times"]]' "$work/h.json")
    mapfile -t two < <(python3 -c 'import json,sys; [print(t) for t in json.load(open(sys.argv[1]))["results"][1]["times"]]' "$work/h.json")
  else
    "$quill" "$@" -j 2 > /dev/null  # warm the page cache
    for ((r = 0; r < runs; ++r)); do
      one+=("$(seconds "$quill" "$@" -j 1)")
      two+=("$(seconds "$quill" "$@" -j 2)")
    done
  fi
  read -r m1 lo1 hi1 < <(printf '%s\n' "${one[@]}" | summary)
  read -r m2 lo2 hi2 < <(printf '%s\n' "${two[@]}" | summary)
  printf '%-28s -j 1 %6.3f s (%.3f-%.3f)   -j 2 %6.3f s (%.3f-%.3f)   speed-up %.2f\n' \
    "$name" "$m1" "$lo1" "$hi1" "$m2" "$lo2" "$hi2" "$(echo "$m1 / $m2" | bc -l)"
}

# The file system's own share of `decode --format bmp`: its 2,000 files
# (460 MB) written by cp into a new folder and synced, by one cp and by two
# at once. Where this speed-up is low, writing the files does not scale here
# and the tool's speed-up cannot pass it by much.
copy_bound() {
  "$quill" decode -q --format bmp -d "$work/bmp" "$work/frames"/*.yuv
  local files=("$work/bmp"/*.bmp) one=() two=()
  local copy1='mkdir "$0" && cp "$@" "$0" && sync -f "$0"'
  local copy2='mkdir "$0"; n=$((($# + 1) / 2)); cp "${@:1:n}" "$0" & cp "${@:n+1}" "$0"; wait; sync -f "$0"'
  for ((r = 0; r < runs; ++r)); do
    one+=("$(seconds bash -c "$copy1" "$work/out" "${files[@]}")")
    two+=("$(seconds bash -c "$copy2" "$work/out" "${files[@]}")")
  done
  rm -rf "$work/bmp"
  read -r m1 lo1 hi1 < <(printf '%s\n' "${one[@]}" | summary)
  read -r m2 lo2 hi2 < <(printf '%s\n' "${two[@]}" | summary)
  printf '%-28s 1 cp %6.3f s (%.3f-%.3f)   2 cp %6.3f s (%.3f-%.3f)   speed-up %.2f\n' \
    "the same BMPs copied" "$m1" "$lo1" "$hi1" "$m2" "$lo2" "$hi2" "$(echo "$m1 / $m2" | bc -l)"
}

# The machine's own share: the library alone on the same frames in memory,
# one thread against two (bench/threads_bound.cpp), when the build that made
# this quill has it.
library_bound() {
  local bound
  bound=$(dirname "$quill")/../bench/quill32_threads_bound
  if [[ -x $bound ]]; then
    "$bound" --runs "$runs" "$work/frames"/*.yuv
  else
    echo "library alone: SKIPPED (no quill32_threads_bound beside this quill; build the bench targets)"
  fi
}

echo "$frames frames, $runs runs each, $(nproc) processors; median (fastest-slowest)"
case_ "info" info -q "$work/frames"/*.yuv
case_ "decode --format bmp" decode -q --format bmp -d "$work/out" "$work/frames"/*.yuv
case_ "decode to PNG" decode -q -d "$work/out" "$work/frames"/*.yuv
copy_bound
library_bound
