#!/usr/bin/env bash
# Sets up everything and runs every test suite: the Linux build, the same
# tests under AddressSanitizer and LeakSanitizer, and the Windows build under
# Wine (which must also leave the same bytes as the Linux build).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== Engine layout"
python3 scripts/check-layout.py

echo "== Linux build"
bash scripts/build-linux.sh build
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Linux build with sanitizers"
bash scripts/build-linux.sh build-asan -DSONGWRIGHT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs")

echo "== Fuzz smoke run"
bash scripts/fuzz.sh

echo "== Benchmark smoke run"
bash bench/run.sh --smoke
bash bench/run.sh --smoke --library mixed

echo "== Windows build under Wine"
bash scripts/build-windows.sh -DSONGWRIGHT_LINUX_BUILD="$PWD/build"
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh build-windows
wine_server_start
status=0
(cd build-windows && ctest --output-on-failure) || status=$?
wine_server_stop
exit $status
