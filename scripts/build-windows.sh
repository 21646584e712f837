#!/usr/bin/env bash
# Builds build-windows/songwright.exe and build-windows/BrenvaleSongwright.exe
# with mingw-w64, after installing what they need and building TagLib for
# Windows once (kept in build-windows/taglib).
#   build-windows.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh windows
bash scripts/build-taglib-windows.sh build-windows/taglib
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DTAGLIB_WINDOWS_PREFIX="$PWD/build-windows/taglib" "$@" >/dev/null
ninja -C build-windows >/dev/null
