#!/usr/bin/env bash
# Builds build/songwright (and its tests) after installing what it needs.
#   build-linux.sh [BUILD_DIR [extra cmake arguments]]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh linux
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
ninja -C "$dir" >/dev/null
