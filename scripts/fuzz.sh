#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each for SECONDS (default 60), starting from the seed
# corpus in fuzz/corpus/. New inputs go to build/fuzzing/corpus/, findings to
# build/fuzzing/findings/; copy a finding into fuzz/crashes/TARGET/ once fixed,
# and the normal suite replays it from then on.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode encode picture exports)
bash scripts/setup.sh --tests
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/fuzzing -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL32_FUZZ=ON \
  -DQUILL32_BENCH=OFF -DQUILL32_TOOLS=OFF -DQUILL32_WINDOWS=OFF >/dev/null
cmake --build build/fuzzing -j "$jobs" --target $(printf '%s_fuzzer ' "${targets[@]}") >/dev/null
status=0
for t in "${targets[@]}"; do
  mkdir -p "build/fuzzing/corpus/$t" "build/fuzzing/findings/$t"
  cp -n fuzz/corpus/"$t"/* "build/fuzzing/corpus/$t/" 2>/dev/null || true
  echo "== $t: ${seconds}s"
  if ! "build/fuzzing/fuzz/${t}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 \
      -artifact_prefix="build/fuzzing/findings/$t/" "build/fuzzing/corpus/$t" 2>"build/fuzzing/$t.log"; then
    echo "!! $t found a fault; see build/fuzzing/$t.log and build/fuzzing/findings/$t/"
    tail -40 "build/fuzzing/$t.log"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "build/fuzzing/$t.log" || true
done
exit $status
