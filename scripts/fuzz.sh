#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, -O2, AddressSanitizer and Undefined-
# BehaviorSanitizer) and runs each for SECONDS (default 60), starting from the
# corpus in fuzz/corpus/ (the levels target from the decode corpus too), with
# the target's dictionary from fuzz/dict/ where there is one. New inputs go to
# build/fuzzing/corpus/, findings to build/fuzzing/findings/; copy a finding
# into fuzz/crashes/TARGET/ once fixed, and the normal suite replays it from
# then on. Each target's executions per second go to the log, against the
# rate it is meant to keep; a rate below it is reported, not a failure (it
# depends on the machine's load).
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode encode picture exports levels api)
declare -A aim=([decode]=1000 [encode]=200 [picture]=500 [exports]=300 [levels]=0 [api]=200)
declare -A dict=([decode]=frame [levels]=frame [api]=frame)
bash scripts/setup.sh --tests
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/fuzzing -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL32_FUZZ=ON \
  -DQUILL32_BENCH=OFF -DQUILL32_TOOLS=OFF -DQUILL32_WINDOWS=OFF >/dev/null
cmake --build build/fuzzing -j "$jobs" --target $(printf '%s_fuzzer ' "${targets[@]}") >/dev/null
# A smaller quarantine than ASan's 256 MB still holds some hundred inputs'
# freed blocks, and keeps the pages warm: the decoder's 600 MCUs per input
# otherwise land on fresh pages each time. No stacks are kept for blocks
# while fuzzing (a decoding input allocates and frees 1,200 of them); a
# finding is run once more with them, so that its report says where the
# block was allocated and freed.
full_asan_options="quarantine_size_mb=32${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export ASAN_OPTIONS="malloc_context_size=0:$full_asan_options"
status=0
summary=()
for t in "${targets[@]}"; do
  mkdir -p "build/fuzzing/corpus/$t" "build/fuzzing/findings/$t"
  cp -n fuzz/corpus/"$t"/* "build/fuzzing/corpus/$t/" 2>/dev/null || true
  seeds=()
  [ "$t" = levels ] && seeds=(fuzz/corpus/decode)
  options=()
  [ -n "${dict[$t]:-}" ] && options+=("-dict=fuzz/dict/${dict[$t]}.dict")
  echo "== $t: ${seconds}s"
  if ! "build/fuzzing/fuzz/${t}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 \
      -artifact_prefix="build/fuzzing/findings/$t/" "${options[@]}" "build/fuzzing/corpus/$t" "${seeds[@]}" \
      2>"build/fuzzing/$t.log"; then
    echo "!! $t found a fault; see build/fuzzing/$t.log and build/fuzzing/findings/$t/"
    for finding in build/fuzzing/findings/"$t"/*; do
      [ -f "$finding" ] || continue
      ASAN_OPTIONS="$full_asan_options" "build/fuzzing/fuzz/${t}_fuzzer" "$finding" >>"build/fuzzing/$t.log" 2>&1 || true
    done
    tail -60 "build/fuzzing/$t.log"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzzing/$t.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "build/fuzzing/$t.log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "build/fuzzing/$t.log")
  units=$(sed -n 's/^stat::new_units_added: *//p' "build/fuzzing/$t.log")
  line=$(printf '%-8s %10s executions %7s/s' "$t" "${runs:-?}" "${rate:-?}")
  if [ "${aim[$t]:-0}" -gt 0 ]; then
    if [ -n "$rate" ] && [ "$rate" -ge "${aim[$t]}" ]; then
      line+=$(printf '  (aim %s/s: met)' "${aim[$t]}")
    else
      line+=$(printf '  (aim %s/s: BELOW)' "${aim[$t]}")
    fi
  fi
  line+=$(printf '  %s new inputs, peak %s MB' "${units:-?}" "${rss:-?}")
  echo "rate: $line"
  summary+=("$line")
done
echo "== executions per second under ASan+UBSan, ${seconds}s each ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)):"
printf '   %s\n' "${summary[@]}"
exit $status
