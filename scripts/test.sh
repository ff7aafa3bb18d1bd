#!/usr/bin/env bash
# Builds QUILL32 with g++ (Release, with it the Windows DLLs, i686 and x86_64,
# tested under Wine) and with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer), warnings as errors, and runs every test in both
# builds; the threads test under ThreadSanitizer; then the browser page
# (WebAssembly, in headless Chromium), the install and packaging tests and the
# i386 and aarch64 suites.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release -DQUILL32_WERROR=ON \
  -DQUILL32_WINDOWS=ON
cmake --build build/gcc -j "$jobs"
ctest --test-dir build/gcc --output-on-failure -j "$jobs"
bash scripts/test_python.sh  # the Python package, installed, against build/gcc's quill
bash scripts/test_web.sh     # the browser page in headless Chromium, against build/gcc's quill

cmake -S . -B build/clang-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DQUILL32_WERROR=ON -DQUILL32_SANITIZE=ON -DQUILL32_BENCH=OFF -DQUILL32_WINDOWS=OFF
cmake --build build/clang-asan -j "$jobs"
ctest --test-dir build/clang-asan --output-on-failure -j "$jobs"

# The contexts-on-threads test under ThreadSanitizer (clang), against the
# modern library alone, and the quill tool's worker pool on a batch.
cmake -S . -B build/clang-tsan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILL32_WERROR=ON -DQUILL32_BENCH=OFF -DQUILL32_TOOLS=ON -DQUILL32_WINDOWS=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build build/clang-tsan -j "$jobs" --target quill_threads_test quill
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/clang-tsan --output-on-failure \
  -R '^(quill_threads|Cli.WorkerPoolGivesWhatOneThreadGives)$'

bash scripts/test_packages.sh   # Debian flags, clang Release, install, consumers, .debs, lintian
bash scripts/test_cross.sh      # i386 and aarch64 (qemu) suites, outputs against the native ones
