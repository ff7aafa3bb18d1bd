#!/usr/bin/env bash
# Installs the Debian packages that QUILL32 needs, when they are missing.
# Safe to run again. With --tests, also what the full test run needs: clang
# for the sanitizer build, the mingw-w64 toolchains and Wine for the Windows
# DLLs, python3 for checking the tool's JSON and the DLLs' code, and on amd64
# 32-bit Wine for the i686 DLL (wine32:i386, for which this adds the i386
# architecture to dpkg; where it cannot be had, the i686 DLL's Wine test
# says SKIPPED), the Debian packaging tools, and the i386 (g++ -m32) and
# aarch64 (cross g++, qemu-user) toolchains.
set -euo pipefail
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

packages=(cmake make g++ binutils libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libpng-dev libdeflate-dev
  libturbojpeg0-dev)
optional=()
if [ "${1:-}" = "--tests" ]; then
  packages+=(clang g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 python3)
  # Packaging (scripts/test_packages.sh) and the i386 and aarch64 builds
  # (scripts/test_cross.sh; Debian's GoogleTest sources built for each).
  packages+=(debhelper lintian dpkg-dev fakeroot pkgconf man-db googletest)
  # python3-quill32 (pybuild; the Python packages below give the rest)
  packages+=(dh-python)
  # the Python package: its build, its dependencies, its tests
  packages+=(python3-dev python3-venv python3-setuptools python3-wheel python3-pybind11 python3-numpy
    python3-pil python3-dask python3-distributed python3-pytest)
  if [ "$(dpkg --print-architecture)" = amd64 ]; then
    optional+=(wine32:i386)
    packages+=(lib32stdc++-12-dev lib32gcc-12-dev libc6-dev-i386 qemu-user g++-aarch64-linux-gnu
      libc6-dev-arm64-cross)
  fi
fi
missing=()
for p in "${packages[@]}" "${optional[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  required=()
  for p in "${missing[@]}"; do
    [[ " ${optional[*]} " == *" $p "* ]] || required+=("$p")
  done
  if [ ${#required[@]} -gt 0 ]; then
    $sudo apt-get install -y -q --no-install-recommends "${required[@]}"
  fi
  for p in "${optional[@]}"; do
    if ! dpkg -s "$p" >/dev/null 2>&1 &&
      ! $sudo apt-get install -y -q --no-install-recommends "$p"; then
      echo "setup: $p could not be installed; the tests that need it will say SKIPPED" >&2
    fi
  done
fi
