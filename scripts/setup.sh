#!/usr/bin/env bash
# Installs the Debian packages that QUILL32 needs, when they are missing.
# Safe to run again: with nothing missing it makes no apt-get call at all.
# With --tests, also what the full test run needs: clang for the sanitizer
# build, the mingw-w64 toolchains and Wine for the Windows DLLs, python3 for
# checking the tool's JSON and the DLLs' code, the Debian packaging tools,
# and the i386 (g++ -m32) and aarch64 (cross g++, qemu-user) toolchains.
#
# With --web, what the browser page's build needs (emscripten, which --tests
# installs too). Optional with --tests: Chromium, its driver and Selenium for
# the browser tests, which say SKIPPED without them.
#
# Optional: 32-bit Wine (wine32:i386, for which the i386 architecture is
# added to dpkg) for the i686 DLL's test. It is tried only on amd64 and
# only where the kernel runs 32-bit programs; once it has failed to install
# on a machine, it is not tried again (the file named by $state below
# records it; delete the file to try again). Without it the tests that need
# it say SKIPPED.
#
# A failed `apt-get update` is retried; after that set-up goes on with the
# package lists there are, and fails only when a required package then
# cannot be installed, naming it and apt's last error.
#
# QUILL32_32BIT=yes|no overrides the probe of the kernel for 32-bit programs.
# QUILL32_APT_PAUSE sets the seconds between tries of `apt-get update` (5).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
state=${XDG_CACHE_HOME:-$HOME/.cache}/quill32/setup-optional-failed
pause=${QUILL32_APT_PAUSE:-5}

packages=(cmake make g++ binutils libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libpng-dev libdeflate-dev
  libturbojpeg0-dev)
optional=()
if [ "${1:-}" = "--web" ]; then
  packages=(cmake make emscripten python3)
fi
if [ "${1:-}" = "--tests" ]; then
  # the browser page: its WebAssembly build, and the browser that tests it
  packages+=(emscripten)
  optional+=(chromium chromium-driver python3-selenium)
  packages+=(clang g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 python3)
  # Packaging (scripts/test_packages.sh) and the i386 and aarch64 builds
  # (scripts/test_cross.sh; Debian's GoogleTest sources built for each).
  packages+=(debhelper lintian dpkg-dev fakeroot pkgconf man-db googletest)
  # python3-quill32 (pybuild; the Python packages below give the rest)
  packages+=(dh-python)
  # the gdk-pixbuf loader and its tests: GdkPixbuf through python3-gi, the
  # thumbnailer, Eye of GNOME on a virtual X server
  packages+=(libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info python3-gi gir1.2-gdkpixbuf-2.0 xvfb eog)
  # the Python package: its build, its dependencies, its tests
  packages+=(python3-dev python3-venv python3-setuptools python3-wheel python3-pybind11 python3-numpy
    python3-pil python3-dask python3-distributed python3-pytest)
  if [ "$(dpkg --print-architecture)" = amd64 ]; then
    packages+=(lib32stdc++-12-dev lib32gcc-12-dev libc6-dev-i386 qemu-user g++-aarch64-linux-gnu
      libc6-dev-arm64-cross)
    optional+=(wine32:i386)
  fi
fi

installed() { dpkg -s "$1" >/dev/null 2>&1; }
failed_before() { [ -f "$state" ] && grep -qxF "$1" "$state"; }
missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

# Each try's output goes to the terminal as usual; only the verdict is kept.
update_lists() {
  local try
  for try in 1 2 3; do
    if $sudo apt-get update -q; then
      return 0
    fi
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -eq 3 ] || sleep "$pause"
  done
  echo "setup: going on with the package lists there are" >&2
}

# Installs the given packages; on failure prints apt's last error line to
# the file named by $1 and returns 1.
install_packages() {
  local errors=$1 log status
  shift
  log=$(mktemp)
  if $sudo apt-get install -y -q --no-install-recommends "$@" 2>"$log"; then
    status=0
  else
    status=1
    grep '^E:' "$log" | tail -n 1 >"$errors" || true
  fi
  cat "$log" >&2
  rm -f "$log"
  return $status
}

mapfile -t required < <(missing_of "${packages[@]}")
wanted=()
for p in "${optional[@]}"; do
  installed "$p" && continue
  failed_before "$p" && continue
  if [[ $p == *:i386 ]]; then
    runs32=${QUILL32_32BIT:-}
    if [ -z "$runs32" ]; then
      runs32=no
      bash "$here/runs_32bit.sh" && runs32=yes
    fi
    if [ "$runs32" != yes ]; then
      echo "setup: this kernel does not run 32-bit programs, so $p is not installed;" \
        "the i386 suite and the 32-bit DLL's test will say SKIPPED" >&2
      continue
    fi
  fi
  wanted+=("$p")
done
[ ${#required[@]} -gt 0 ] || [ ${#wanted[@]} -gt 0 ] || exit 0

echo "installing: ${required[*]} ${wanted[*]}" >&2
added_i386=no
if [[ " ${wanted[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  added_i386=yes
fi
update_lists
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
if [ ${#required[@]} -gt 0 ] && ! install_packages "$errors" "${required[@]}"; then
  # apt installs none of a list it cannot wholly install: one by one, the
  # others are installed and the ones at fault named.
  refused=()
  for p in $(missing_of "${required[@]}"); do
    install_packages "$errors" "$p" || installed "$p" || refused+=("$p")
  done
  if [ ${#refused[@]} -gt 0 ]; then
    echo "setup: cannot install the required packages ${refused[*]}: $(cat "$errors")" >&2
    exit 1
  fi
fi
for p in "${wanted[@]}"; do
  if ! install_packages "$errors" "$p" && ! installed "$p"; then
    mkdir -p "$(dirname "$state")"
    echo "$p" >>"$state"
    # An architecture added for it alone would make every later update
    # fetch its lists (and fail with them, where the mirror is broken).
    if [[ $p == *:i386 ]] && [ $added_i386 = yes ]; then
      $sudo dpkg --remove-architecture i386 || true
    fi
    echo "setup: $p could not be installed ($(cat "$errors")); the tests that need it will say" \
      "SKIPPED, and it is not tried again while $state names it" >&2
  fi
done
