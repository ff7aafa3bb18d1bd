#!/usr/bin/env bash
# Builds the library and its whole test suite for 32-bit x86 Linux (g++ -m32,
# run natively) and for aarch64 Linux (aarch64-linux-gnu-g++, run under
# qemu-user), runs the suite, and compares the path host's outputs on the
# samples (every export) with the native build's, byte for byte. GoogleTest
# is built for each target from Debian's sources (/usr/src/googletest).
# Usage: scripts/test_cross.sh [i386] [aarch64]   (default: both)
# Needs the native build in build/gcc (scripts/test.sh makes it first).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2
native=build/gcc
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(i386 aarch64)

cmake --build "$native" -j "$jobs" --target path_host >/dev/null
rm -rf build/cross-path/native
mkdir -p build/cross-path/native
"$native/tests/path_host" samples build/cross-path/native >/dev/null

for target in "${targets[@]}"; do
  case "$target" in
    i386)
      toolchain=cmake/toolchains/i686-linux-gnu.cmake
      run=()
      probe=build/cross-path/probe32
      mkdir -p build/cross-path
      if ! echo 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }' |
          gcc -m32 -x c - -o "$probe" 2>/dev/null; then
        echo "SKIPPED: i386: gcc -m32 cannot build programs (lib32stdc++-12-dev, libc6-dev-i386 missing)"
        continue
      fi
      if ! "$probe" 2>/dev/null; then
        echo "SKIPPED: i386: this kernel does not run 32-bit programs"
        continue
      fi
      ;;
    aarch64)
      toolchain=cmake/toolchains/aarch64-linux-gnu.cmake
      run=(qemu-aarch64 -L /usr/aarch64-linux-gnu)
      if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64 >/dev/null; then
        echo "SKIPPED: aarch64: g++-aarch64-linux-gnu or qemu-user missing"
        continue
      fi
      ;;
    *)
      echo "test_cross: unknown target $target (i386, aarch64)" >&2
      exit 2
      ;;
  esac
  build=build/cross-$target
  start=$SECONDS
  if [ ! -f "$build/gtest/.installed" ]; then
    cmake -S /usr/src/googletest -B "$build/googletest" -DCMAKE_TOOLCHAIN_FILE="$PWD/$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
      -DCMAKE_INSTALL_PREFIX="$PWD/$build/gtest" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
    cmake --build "$build/googletest" -j "$jobs" >/dev/null
    cmake --install "$build/googletest" >/dev/null
    touch "$build/gtest/.installed"
  fi
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DQUILL32_WERROR=ON -DQUILL32_BENCH=OFF -DQUILL32_TOOLS=OFF -DQUILL32_INSTALL=OFF -DQUILL32_DESKTOP=OFF \
    -DGTest_DIR="$PWD/$build/gtest/lib/cmake/GTest" >/dev/null
  cmake --build "$build" -j "$jobs" >/dev/null
  built=$SECONDS
  echo "$target: built in $((built - start)) s"
  if ! ctest --test-dir "$build" --output-on-failure -j "$jobs" >"$build/ctest.log" 2>&1; then
    cat "$build/ctest.log" >&2
    echo "test_cross: $target: the suite failed" >&2
    exit 1
  fi
  tested=$SECONDS
  echo "$target: $(grep -E '^[0-9]+% tests passed' "$build/ctest.log"), $(grep -c '(Skipped)' \
    "$build/ctest.log" || true) skipped (vector levels above plain); ran in $((tested - built)) s"

  out=build/cross-path/$target
  rm -rf "$out"
  mkdir -p "$out"
  "${run[@]}" "$build/tests/path_host" samples "$out" >/dev/null
  if ! diff -r build/cross-path/native "$out" >/dev/null; then
    echo "test_cross: $target: path host outputs differ from the native build's:" >&2
    diff -rq build/cross-path/native "$out" >&2 || true
    exit 1
  fi
  echo "$target: $(find "$out" -type f | wc -l) path outputs identical to the native build's"
done
