#!/bin/bash
# Usage: scripts/build-taglib-windows.sh PREFIX
#
# Builds TagLib (Debian's taglib source package, 1.13) as a static library
# for x86_64 Windows with mingw-w64 and installs it into PREFIX
# (e.g. build-windows/taglib, the default TAGLIB_WINDOWS_PREFIX of
# cmake/mingw-w64-x86_64.cmake). Does nothing if PREFIX/lib/libtag.a exists.
#
# Code that includes TagLib headers and links this libtag.a must be compiled
# with -DTAGLIB_STATIC; without it the headers declare every symbol
# __declspec(dllimport) and linking fails. libtag.a needs zlib: link
# /usr/x86_64-w64-mingw32/lib/libz.a after it.
#
# Debian's patches are kept (among them a security fix), except the one that
# makes TagLib use the system utf8cpp headers: it is reversed so that the
# copy bundled in 3rdparty/ is used, as no mingw utf8cpp package exists.
#
# Needs root (apt). Takes about 2-3 minutes on 2 cores. Quiet on success;
# on failure the log of the failing step is printed.
set -eu

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 PREFIX" >&2
  exit 2
fi

mkdir -p "$1"
PREFIX=$(cd "$1" && pwd)
[ -f "$PREFIX/lib/libtag.a" ] && exit 0

HERE=$(cd "$(dirname "$0")" && pwd)
TOOLCHAIN="$HERE/../cmake/mingw-w64-x86_64.cmake"
SYSROOT=/usr/x86_64-w64-mingw32
WORK="$PREFIX.work"
LOG="$WORK/build.log"
START=$(date +%s)

rm -rf "$WORK"
mkdir -p "$WORK"
: > "$LOG"

# Runs a step with its output in the log; prints the log if it fails.
run() {
  echo "+ $*" >> "$LOG"
  if ! "$@" >> "$LOG" 2>&1; then
    echo "build-taglib-windows: failed: $*" >&2
    tail -n 60 "$LOG" >&2
    echo "build-taglib-windows: full log: $LOG" >&2
    exit 1
  fi
}

# Waits for a concurrent apt/dpkg run instead of failing on its lock.
APT_OPTS="-o DPkg::Lock::Timeout=900 -o Acquire::Retries=3"

missing=""
for pkg in dpkg-dev cmake make g++-mingw-w64-x86-64 libz-mingw-w64-dev; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
    missing="$missing $pkg"
  fi
done
updated=0
if [ -n "$missing" ]; then
  # shellcheck disable=SC2086
  run apt-get $APT_OPTS update
  updated=1
  # shellcheck disable=SC2086
  run env DEBIAN_FRONTEND=noninteractive apt-get $APT_OPTS install -y $missing
fi

# Enable source indexes: deb822 file first, one-line format as fallback.
DEB822=/etc/apt/sources.list.d/debian.sources
if [ -f "$DEB822" ]; then
  if grep -qx 'Types: deb' "$DEB822"; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' "$DEB822"
    updated=0
  fi
elif [ -f /etc/apt/sources.list ] && ! grep -qs '^deb-src ' /etc/apt/sources.list \
     /etc/apt/sources.list.d/*.list; then
  sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list \
    > /etc/apt/sources.list.d/deb-src.list
  updated=0
fi
if [ "$updated" = 0 ] || [ -z "$(apt-cache showsrc taglib 2>/dev/null)" ]; then
  # shellcheck disable=SC2086
  run apt-get $APT_OPTS update
fi

# As root, apt would try to download as the _apt user, which cannot write
# into this folder; download as root instead of warning about it.
cd "$WORK"
run apt-get -o APT::Sandbox::User=root source taglib
SRC=$(find "$WORK" -mindepth 1 -maxdepth 1 -type d -name 'taglib-*' | head -n 1)
if [ -z "$SRC" ] || [ ! -f "$SRC/debian/patches/series" ]; then
  echo "build-taglib-windows: no unpacked taglib source in $WORK" >&2
  exit 1
fi

UTF8_PATCH=$(grep -i -m 1 'utf8cpp' "$SRC/debian/patches/series" || true)
if [ -z "$UTF8_PATCH" ]; then
  echo "build-taglib-windows: utf8cpp patch not found in debian/patches/series" >&2
  exit 1
fi
run patch -R -p1 -d "$SRC" -i "$SRC/debian/patches/$UTF8_PATCH"
[ -f "$SRC/3rdparty/utf8-cpp/checked.h" ] || {
  echo "build-taglib-windows: bundled utf8cpp missing in $SRC/3rdparty" >&2
  exit 1
}

run cmake -S "$SRC" -B "$WORK/build" \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DTAGLIB_WINDOWS_PREFIX="$PREFIX" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  -DCMAKE_INSTALL_LIBDIR=lib \
  -DBUILD_SHARED_LIBS=OFF \
  -DBUILD_TESTING=OFF \
  -DBUILD_EXAMPLES=OFF \
  -DBUILD_BINDINGS=OFF \
  -DWITH_ZLIB=ON \
  -DZLIB_LIBRARY="$SYSROOT/lib/libz.a" \
  -DZLIB_INCLUDE_DIR="$SYSROOT/include"
# WITH_ZLIB quietly turns itself off when zlib is not found.
if ! grep -q '^-- Found ZLIB' "$LOG"; then
  echo "build-taglib-windows: mingw zlib not found, see $LOG" >&2
  exit 1
fi
run cmake --build "$WORK/build" -j2
run cmake --install "$WORK/build"

for f in lib/libtag.a include/taglib/taglib.h; do
  if [ ! -f "$PREFIX/$f" ]; then
    echo "build-taglib-windows: $PREFIX/$f missing after install" >&2
    exit 1
  fi
done

echo "built in $(( $(date +%s) - START ))s" >> "$LOG"
mv "$LOG" "$PREFIX/build-taglib.log"
rm -rf "$WORK"
