#!/usr/bin/env bash
# Builds the third-party libraries for i686-w64-mingw32 from Debian's source packages
# into PREFIX (default: build/deps/prefix). Does nothing when PREFIX/.complete names this
# recipe; a prefix built by another recipe is built again.
#   libbz2 (bzip2), Boost 1.81 (Iostreams with bzip2, System; headers for UUID and
#   Signals2), fmt 9 (fmtlib), GoogleTest/GoogleMock (Debian's googletest sources).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$top/build/deps/prefix}
work=$(dirname "$prefix")/work
stamp=$prefix/.complete
# Changed whenever the libraries are built otherwise.
recipe="2: fmt without locale-dependent separators"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ] && exit 0

triplet=i686-w64-mingw32
jobs=$(nproc)
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
cd "$work"

echo "== fetching source packages"
apt-get source --download-only bzip2 boost1.81 fmtlib >/dev/null 2>&1 || \
  apt-get source --download-only bzip2 boost1.81 fmtlib

echo "== libbz2"
dpkg-source -x bzip2_*.dsc bzip2 >/dev/null
make -C bzip2 -j"$jobs" libbz2.a CC=$triplet-gcc-posix AR=$triplet-ar RANLIB=$triplet-ranlib \
  CFLAGS="-O2 -D_FILE_OFFSET_BITS=64" >/dev/null
install -D -m644 bzip2/libbz2.a "$prefix/lib/libbz2.a"
install -D -m644 bzip2/bzlib.h "$prefix/include/bzlib.h"

echo "== fmt"
dpkg-source -x fmtlib_*.dsc fmtlib >/dev/null
# Thousands separators are fixed (no "{:L}" is formatted here), so that fmt refers to no
# std::locale: a program that needs none of its own then carries none of the locale's facets.
# The users of the library get the same definition (cmake/dependencies.cmake).
cmake -S fmtlib -B fmtlib-build -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_CXX_FLAGS="-DFMT_STATIC_THOUSANDS_SEPARATOR=0x2C" -DFMT_DOC=OFF -DFMT_TEST=OFF >/dev/null
cmake --build fmtlib-build -j"$jobs" >/dev/null
cmake --install fmtlib-build >/dev/null

echo "== googletest"
cmake -S /usr/src/googletest -B gtest-build -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -Dgtest_disable_pthreads=OFF >/dev/null
cmake --build gtest-build -j"$jobs" >/dev/null
cmake --install gtest-build >/dev/null

echo "== boost"
mkdir boost
tar -xf boost1.81_*.orig.tar.xz -C boost --strip-components=1
(
  cd boost
  # The orig tarball lacks the generated grammar of the build engine.
  (cd tools/build/src/engine && bison -y -d -o jamgram.cpp jamgram.y)
  ./bootstrap.sh --with-libraries=iostreams,system >/dev/null
  cat > user-config.jam <<JAM
using gcc : mingw : $triplet-g++-posix : <archiver>$triplet-ar <ranlib>$triplet-ranlib <rc>$triplet-windres ;
JAM
  ./b2 -q -j"$jobs" --user-config=user-config.jam toolset=gcc-mingw target-os=windows \
    address-model=32 architecture=x86 threading=multi link=static runtime-link=static variant=release \
    --layout=system --with-iostreams --with-system \
    -sNO_ZLIB=1 -sNO_LZMA=1 -sNO_ZSTD=1 \
    -sBZIP2_INCLUDE="$prefix/include" -sBZIP2_LIBPATH="$prefix/lib" \
    --prefix="$prefix" install >b2.log 2>&1 || { tail -40 b2.log; exit 1; }
)
rm -rf "$work"
echo "$recipe" >"$stamp"
echo "== dependencies ready in $prefix"
