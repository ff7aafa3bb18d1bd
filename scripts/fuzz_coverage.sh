#!/usr/bin/env bash
# Line coverage of src/ reached by the fuzz corpus: builds the replay
# programs with clang's source-based coverage (no sanitizers), replays
# fuzz/corpus/ and fuzz/crashes/ (or the corpus folders given, TARGET=DIR),
# and prints llvm-cov's report; the annotated lines of each file go to
# build/fuzz-coverage/lines/.
# Usage: scripts/fuzz_coverage.sh [TARGET=DIR...]
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(decode encode picture exports levels)
declare -A corpus
for t in "${targets[@]}"; do corpus[$t]="fuzz/corpus/$t fuzz/crashes/$t"; done
for arg in "$@"; do corpus[${arg%%=*}]=${arg#*=}; done
jobs=$(nproc 2>/dev/null || echo 2)
out=build/fuzz-coverage
cmake -S . -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DQUILL32_BENCH=OFF -DQUILL32_TOOLS=OFF -DQUILL32_WINDOWS=OFF >/dev/null
cmake --build "$out" -j "$jobs" --target $(printf '%s_replay ' "${targets[@]}") >/dev/null
rm -rf "$out/profiles" "$out/lines"
mkdir -p "$out/profiles"
objects=()
for t in "${targets[@]}"; do
  # shellcheck disable=SC2086 # a folder list
  LLVM_PROFILE_FILE="$out/profiles/$t.profraw" "$out/fuzz/${t}_replay" ${corpus[$t]} >/dev/null
  objects+=(-object "$out/fuzz/${t}_replay")
done
llvm-profdata merge -sparse "$out"/profiles/*.profraw -o "$out/fuzz.profdata"
llvm-cov report "${objects[@]:1}" -instr-profile="$out/fuzz.profdata" "$PWD/src"
llvm-cov show "${objects[@]:1}" -instr-profile="$out/fuzz.profdata" -format=text \
  -output-dir="$out/lines" "$PWD/src" >/dev/null
