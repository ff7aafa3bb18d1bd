#!/usr/bin/env bash
# Installation and packaging as users and packagers meet them:
#  1. a build as Debian builds (CMAKE_BUILD_TYPE=None, dpkg-buildflags) and
#     a clang++ build of the default type (Release), warnings as errors;
#  2. cmake --install into a prefix (static library too): the files, the
#     SONAME, the manual pages; C and C++ consumers built with
#     find_package(quill32) (shared and static), with pkg-config, and with
#     the tree added by add_subdirectory decode a sample frame and check the
#     picture's bytes;
#  3. dpkg-buildpackage -b from a clean copy of the tree, lintian, the
#     packages installed, and the consumers built against them (CMake,
#     pkg-config, plain cc), `man quill`, and Debian's python3 importing
#     quill32 from the package and decoding the test card as `quill decode`
#     does; the packages are removed again.
# Step 3 needs root (or sudo); without either it says SKIPPED.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2
work=build/packages
rm -rf "$work"
mkdir -p "$work"
version=$(sed -n 's/^project(quill32 VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
major=${version%%.*}
# The test card's 320x240 picture: FNV-1a of its 230,440 bytes.
frame=$root/samples/testcard.yuv
expected=$(cat tests/consumer/testcard.fnv1a)
fail() {
  echo "test_packages: $*" >&2
  exit 1
}
step() { echo "== $*"; }

step "Debian flags, CMAKE_BUILD_TYPE=None, warnings as errors"
start=$SECONDS
CFLAGS=$(dpkg-buildflags --get CFLAGS) CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS) \
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS) CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS) \
  cmake -S . -B "$work/none" -DCMAKE_BUILD_TYPE=None -DQUILL32_WERROR=ON -DQUILL32_TESTS=OFF \
  -DQUILL32_BENCH=OFF >/dev/null
cmake --build "$work/none" -j "$jobs" >/dev/null
echo "built in $((SECONDS - start)) s"

step "clang++ Release, warnings as errors"
start=$SECONDS
cmake -S . -B "$work/clang" -DCMAKE_CXX_COMPILER=clang++ -DQUILL32_WERROR=ON -DQUILL32_TESTS=OFF \
  -DQUILL32_BENCH=OFF >/dev/null
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$work/clang/CMakeCache.txt" ||
  fail "the build type is not Release when none is given"
cmake --build "$work/clang" -j "$jobs" >/dev/null
echo "built in $((SECONDS - start)) s"

step "cmake --install into a prefix"
start=$SECONDS
prefix=$root/$work/prefix
cmake -S . -B "$work/tree" -DCMAKE_INSTALL_PREFIX="$prefix" -DQUILL32_INSTALL_STATIC=ON \
  -DQUILL32_TESTS=OFF -DQUILL32_BENCH=OFF >/dev/null
cmake --build "$work/tree" -j "$jobs" >/dev/null
cmake --install "$work/tree" >/dev/null
libdir=$(sed -n 's/^libdir=\${prefix}\///p' "$prefix"/lib*/pkgconfig/quill32.pc)
[ -n "$libdir" ] || fail "quill32.pc: no libdir"
for f in "$libdir/libquill32.so.$version" "$libdir/libquill32.so.$major" "$libdir/libquill32.so" \
  "$libdir/libquill32.a" "$libdir/cmake/quill32/quill32Config.cmake" \
  "$libdir/cmake/quill32/quill32ConfigVersion.cmake" "$libdir/cmake/quill32/quill32Targets.cmake" \
  "$libdir/cmake/quill32/quill32StaticTargets.cmake" "$libdir/pkgconfig/quill32.pc" \
  include/quill32.h include/quill32_memory.h include/quill32_check.h include/quill32_vector.h \
  include/quill32_version.h bin/quill share/man/man1/quill.1 share/man/man3/quill32.3 \
  "$libdir/libquill.so.1" "$libdir/libquill.so" "$libdir/cmake/quill/quillConfig.cmake" \
  "$libdir/cmake/quill/quillTargets.cmake" "$libdir/pkgconfig/quill.pc" include/quill/quill.h \
  share/man/man3/quill.3; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ "$(readlink "$prefix/$libdir/libquill32.so")" = "libquill32.so.$major" ] ||
  fail "libquill32.so does not point to libquill32.so.$major"
objdump -p "$prefix/$libdir/libquill32.so.$version" | grep -E "SONAME +libquill32\.so\.$major$" >/dev/null ||
  fail "SONAME is not libquill32.so.$major"
grep -q "QUILL32_VERSION_STRING \"$version\"" "$prefix/include/quill32_version.h" ||
  fail "quill32_version.h does not say $version"
LD_LIBRARY_PATH="$prefix/$libdir" "$prefix/bin/quill" --version | grep "^quill $version " >/dev/null ||
  fail "the installed quill --version does not say $version"
objdump -p "$prefix/$libdir/libquill.so.1" | grep -E "SONAME +libquill\.so\.1$" >/dev/null ||
  fail "libquill's SONAME is not libquill.so.1"
for page in share/man/man1/quill.1 share/man/man3/quill32.3 share/man/man3/quill.3; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$prefix/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
MANPATH="$prefix/share/man" man -w quill32 >/dev/null || fail "man quill32 finds no page in the prefix"

# Consumers: CMake (shared, static), pkg-config (C, C++).
consume() {  # name, then the programs to run
  local name=$1
  shift
  for program in "$@"; do
    LD_LIBRARY_PATH="${consumer_libpath:-}" "$program" "$frame" "$expected" >/dev/null ||
      fail "$name: $program failed"
  done
  echo "$name: $# consumers decoded the test card as expected"
}
for kind in shared static; do
  static=OFF
  [ $kind = static ] && static=ON
  cmake -S tests/consumer -B "$work/consumer-cmake-$kind" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQUILL32_CONSUMER_STATIC=$static -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
  cmake --build "$work/consumer-cmake-$kind" >/dev/null
  consumer_libpath=$prefix/$libdir
  [ $kind = static ] && consumer_libpath=/nonexistent
  consume "find_package (prefix, $kind)" "$work/consumer-cmake-$kind/consumer_c" \
    "$work/consumer-cmake-$kind/consumer_cxx"
done
cmake -S tests/consumer -B "$work/consumer-subdir" -DQUILL32_SOURCE="$root" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/consumer-subdir" -j "$jobs" >/dev/null
consumer_libpath=$root/$work/consumer-subdir/quill32
consume "add_subdirectory (the tree)" "$work/consumer-subdir/consumer_c" \
  "$work/consumer-subdir/consumer_cxx"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion quill32)" = "$version" ] || fail "pkg-config --modversion is not $version"
mkdir -p "$work/consumer-pc"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror tests/consumer/consumer.c -o "$work/consumer-pc/consumer_c" \
  $(pkg-config --cflags --libs quill32)
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror tests/consumer/consumer.cpp -o "$work/consumer-pc/consumer_cxx" \
  $(pkg-config --cflags --libs quill32)
consumer_libpath=$prefix/$libdir
consume "pkg-config (prefix)" "$work/consumer-pc/consumer_c" "$work/consumer-pc/consumer_cxx"
unset PKG_CONFIG_PATH consumer_libpath

# The README's example against the modern library, from a tree installed
# with --prefix into a folder other than the one configured (the .pc files
# find their prefix from where they lie), through pkg-config and CMake.
moved=$root/$work/moved
rm -rf "$moved"
cmake --install "$work/tree" --prefix "$moved" >/dev/null
export PKG_CONFIG_PATH=$moved/$libdir/pkgconfig
for pc in quill quill32; do
  [ "$(pkg-config --variable=includedir $pc)" -ef "$moved/include" ] ||
    fail "$pc.pc does not follow --prefix: $(pkg-config --variable=includedir $pc)"
done
mkdir -p "$work/example"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror tests/consumer/quill_example.c -o "$work/example/quill_example" \
  $(pkg-config --cflags --libs quill)
unset PKG_CONFIG_PATH
LD_LIBRARY_PATH=$moved/$libdir "$work/example/quill_example" "$frame" "$work/example/testcard.ppm" ||
  fail "the README's example failed"
[ "$(python3 tests/consumer/ppm_as_dib_fnv1a.py "$work/example/testcard.ppm")" = "$expected" ] ||
  fail "the README's example decodes the test card otherwise than the legacy exports"
cmake -S tests/consumer -B "$work/example/cmake" -DCMAKE_PREFIX_PATH="$moved" -DQUILL_CONSUMER=ON \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/example/cmake" >/dev/null
LD_LIBRARY_PATH=$moved/$libdir "$work/example/cmake/quill_example" "$frame" "$work/example/cmake.ppm" ||
  fail "the README's example (find_package(quill)) failed"
echo "README example: pkg-config and find_package(quill) from a --prefix install decode the test card"
echo "install and consumers: $((SECONDS - start)) s"

step "Debian packages"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then
    sudo=sudo
  else
    echo "SKIPPED: Debian packages: installing them needs root or sudo"
    exit 0
  fi
fi
start=$SECONDS
src=$work/deb/quill32-$version
mkdir -p "$src"
# A clean copy of the tree: the files git knows (committed or not), nothing built.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf - | tar -xf - -C "$src"
# With the system's PATH, as a Debian build has it: a python3 of pyenv or a
# venv ahead of /usr/bin lacks Debian's python3 modules (pybind11, numpy).
(cd "$src" && PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg-buildpackage -b -us -uc -j"$jobs" \
  >../build.log 2>&1) ||
  { tail -n 40 "$work/deb/build.log" >&2; fail "dpkg-buildpackage failed (log: $work/deb/build.log)"; }
arch=$(dpkg --print-architecture)
debs=()
for p in "libquill32-$major" libquill32-dev libquill1 libquill-dev quill python3-quill32 quill32-pixbuf-loader; do
  deb=$work/deb/${p}_${version}_$arch.deb
  [ -f "$deb" ] || fail "not built: $deb"
  debs+=("$deb")
done
echo "dpkg-buildpackage: ${debs[*]##*/} in $((SECONDS - start)) s"
# The Python package's guide and its Dask example, where Debian users look.
pydoc=$(dpkg-deb -c "$work/deb/python3-quill32_${version}_$arch.deb")
for f in README.md examples/archive_on_dask.py; do
  grep -E "\./usr/share/doc/python3-quill32/$f(\.gz)?$" <<<"$pydoc" >/dev/null ||
    fail "python3-quill32 holds no /usr/share/doc/python3-quill32/$f"
done
dpkg-deb -c "$work/deb/libquill32-${major}_${version}_$arch.deb" | grep "libquill32.so.$version$" >/dev/null ||
  fail "libquill32-$major holds no libquill32.so.$version"
if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$work/deb/quill32_${version}_$arch.changes" \
    >"$work/deb/lintian.log" 2>&1 || { cat "$work/deb/lintian.log" >&2; fail "lintian reports errors"; }
  echo "lintian: no errors; $(grep -c '^W: ' "$work/deb/lintian.log" || true) warnings" \
    "$(sed -n 's/^W: [^ ]* [^ ]*: \([^ ]*\).*/\1/p' "$work/deb/lintian.log" | sort -u | tr '\n' ' ')"
else
  echo "SKIPPED: lintian is not installed"
fi

installed_before=()
for p in "libquill32-$major" libquill32-dev libquill1 libquill-dev quill python3-quill32 quill32-pixbuf-loader; do
  dpkg -s "$p" >/dev/null 2>&1 && installed_before+=("$p")
done
remove_packages() {
  if [ ${#installed_before[@]} -eq 0 ]; then
    $sudo dpkg -r quill32-pixbuf-loader python3-quill32 quill libquill-dev libquill1 libquill32-dev \
      "libquill32-$major" >/dev/null
  fi
}
trap remove_packages EXIT
$sudo dpkg -i "${debs[@]}" >/dev/null
man -w quill >/dev/null || fail "man quill finds no page after installing"
man -w 3 quill32 >/dev/null || fail "man 3 quill32 finds no page after installing"
man -w 3 quill >/dev/null || fail "man 3 quill finds no page after installing"
quill --version | grep "^quill $version " >/dev/null || fail "the installed quill --version does not say $version"
rm -rf "$work/consumer-deb"
mkdir -p "$work/consumer-deb"
# shellcheck disable=SC2046
cc tests/consumer/quill_example.c -o "$work/consumer-deb/example" $(pkg-config --cflags --libs quill)
"$work/consumer-deb/example" "$frame" "$work/consumer-deb/example.ppm" ||
  fail "the README's example against the packages failed"
cmake -S tests/consumer -B "$work/consumer-deb/cmake" >/dev/null
cmake --build "$work/consumer-deb/cmake" >/dev/null
# shellcheck disable=SC2046
cc tests/consumer/consumer.c -o "$work/consumer-deb/pc_c" $(pkg-config --cflags --libs quill32)
# shellcheck disable=SC2046
c++ tests/consumer/consumer.cpp -o "$work/consumer-deb/pc_cxx" $(pkg-config --cflags --libs quill32)
cc tests/consumer/consumer.c -o "$work/consumer-deb/plain_c" -lquill32
consume "installed packages (find_package, pkg-config, plain cc)" \
  "$work/consumer-deb/cmake/consumer_c" "$work/consumer-deb/cmake/consumer_cxx" \
  "$work/consumer-deb/pc_c" "$work/consumer-deb/pc_cxx" "$work/consumer-deb/plain_c"
# Debian's python3, run from elsewhere (-I: no PYTHONPATH, no user site, not
# the current directory), finds quill32 in the package, and its decode of the
# test card is the installed quill's, pixel for pixel.
quill decode "$frame" -o "$work/consumer-deb/testcard.bmp" -q
(cd /tmp && /usr/bin/python3 -I -c '
import sys
import numpy
from PIL import Image
import quill32
where = "/usr/lib/python3/dist-packages/quill32/"
if not quill32.__file__.startswith(where):
    sys.exit("quill32 imported from %s, not %s" % (quill32.__file__, where))
with open(sys.argv[1], "rb") as f:
    got = quill32.decode(f.read())
want = numpy.asarray(Image.open(sys.argv[2]).convert("RGB"))
if got.shape != want.shape or not numpy.array_equal(got, want):
    sys.exit("quill32.decode differs from quill decode on the test card")
print("python3-quill32 %s: quill32.decode equals quill decode on the test card" % quill32.__version__)
' "$frame" "$root/$work/consumer-deb/testcard.bmp") || fail "python3-quill32: the installed module failed"
# The loader as the package leaves it: gdk-pixbuf's and shared-mime-info's
# triggers have refreshed the system caches; GdkPixbuf, the thumbnailer and
# Eye of GNOME open frames (screenshot in the build).
/usr/bin/python3 tests/desktop/pixbuf_loader_test.py installed "$(command -v quill)" \
  "$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" "$root" "$root/$work/desktop-shots" \
  >"$work/deb/pixbuf.log" 2>&1 || { cat "$work/deb/pixbuf.log" >&2; fail "quill32-pixbuf-loader: frames do not open"; }
echo "quill32-pixbuf-loader: $(grep -c '^ok: ' "$work/deb/pixbuf.log") checks passed with the system's caches;" \
  "Eye of GNOME's screenshot: $work/desktop-shots/eog.png"
echo "Debian packages: $((SECONDS - start)) s"
