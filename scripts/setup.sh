#!/usr/bin/env bash
# Installs the Debian packages that building and testing QUILL32 needs, when
# they are missing. Safe to run again.
set -euo pipefail

packages=(cmake make g++ clang libgtest-dev libgmock-dev libbenchmark-dev binutils libcli11-dev libpng-dev)
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
