#!/usr/bin/env bash
# Installs the Debian packages that QUILL32 needs, when they are missing.
# Safe to run again. With --tests, also what the full test run needs: clang
# for the sanitizer build, the mingw-w64 toolchains and Wine for the Windows
# DLL, python3 for checking the tool's JSON.
set -euo pipefail

packages=(cmake make g++ binutils libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libpng-dev libdeflate-dev)
if [ "${1:-}" = "--tests" ]; then
  packages+=(clang g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 python3)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
