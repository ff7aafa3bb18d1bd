#!/usr/bin/env bash
# Tests the Python package as a user gets it: installs it from python/ into a
# fresh venv over Debian's python3 (numpy, Pillow, Dask and pytest come from
# Debian's packages through --system-site-packages; nothing from the
# network), then runs its tests from a folder outside the tree, so that the
# installed package is what is imported, against the quill tool of the g++
# build (built here when missing; QUILL names another).
set -euo pipefail
tree=$(cd "$(dirname "$0")/.." && pwd)
cd "$tree"
bash scripts/setup.sh --tests
# The binding stands on quill.h alone, with no lock of its own around the
# library's calls.
binding=python/ext/module.cpp
included=$(grep -o '^#include "[^"]*"' "$binding" | sort -u)
if [ "$included" != '#include "quill/quill.h"' ]; then
  echo "test_python.sh: $binding must include the library through quill/quill.h alone, not:" >&2
  echo "$included" >&2
  exit 1
fi
if grep -nE 'mutex|lock_guard|unique_lock|register_at_fork' "$binding" python/src/quill32/*.py; then
  echo "test_python.sh: a lock around the library's calls (above)" >&2
  exit 1
fi
quill=${QUILL:-$tree/build/gcc/tools/quill}
if [ ! -x "$quill" ]; then
  cmake -S . -B build/gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release
  cmake --build build/gcc --target quill -j "$(nproc 2>/dev/null || echo 2)"
fi
venv=$tree/build/python-venv
rm -rf "$venv"
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --no-build-isolation --no-index --quiet "$tree/python"
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
cd "$run"
found=$("$venv/bin/python" -c 'import quill32; print(quill32.__file__)')
if [[ "$found" != "$venv"/* ]]; then
  echo "test_python.sh: quill32 was imported from $found, not from the installed package" >&2
  exit 1
fi
QUILL=$quill "$venv/bin/python" -m pytest -p no:cacheprovider "$tree/python/tests"
