#!/usr/bin/env bash
# Compares the album decision of `--codepage auto` with uchardet and ICU's
# charset detector on labelled text made of held-out dictionary words:
#   bash bench/compare-detectors.sh [BUILD_DIR] [compare-detectors options]
# Installs libuchardet-dev and libicu-dev when they are missing (they are not
# needed to build or test songwright itself).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

missing=()
for package in libuchardet-dev libicu-dev pkg-config; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

if [ ! -f "$build/build.ninja" ]; then
  bash "$root/scripts/build-linux.sh" "$build"
fi
cmake "$build" >/dev/null
cmake --build "$build" --target songwright_bench_compare-detectors -- -j2 >/dev/null
if [ $# -eq 0 ]; then
  set -- --words "$root/tests/data/heldout-test.txt" --seed 2026 --samples 200
fi
"$build/bench/compare-detectors" "$@"
echo
echo "Reproduce: bash bench/compare-detectors.sh $build $*"
