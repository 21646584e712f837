#!/usr/bin/env bash
# Builds the FixFile fuzzer with clang (libFuzzer and AddressSanitizer) in
# build-fuzz/ and runs it: first every input in tests/fuzz/regressions/, then
# mutations of the seed corpus tests/fuzz/corpus/.
#   fuzz.sh              the CI smoke run: a fixed 20000 runs from seed 1
#   fuzz.sh --runs N     N runs
#   fuzz.sh SECONDS      a longer run; new inputs gather in build-fuzz/corpus/
#   fuzz.sh --seeds      rewrites the seed corpus from tests/fuzz/make_seeds.cc
# An input that crashes is copied into tests/fuzz/regressions/ to be kept.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=runs
runs=20000
seconds=0
case "${1:-}" in
  "") ;;
  --runs) runs=${2:?--runs needs a number} ;;
  --seeds) mode=seeds ;;
  *[!0-9]* | -*) echo "usage: fuzz.sh [SECONDS | --runs N | --seeds]" >&2; exit 2 ;;
  *) mode=time; seconds=$1 ;;
esac

bash scripts/install-deps.sh linux
packages=()
for package in clang-14 libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    packages+=("$package")
done
if [ ${#packages[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  echo "Installing: ${packages[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${packages[@]}" >/dev/null
fi

build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S tests/fuzz -B "$build" -G Ninja >/dev/null
ninja -C "$build" >"$build/ninja.log" || { cat "$build/ninja.log" >&2; exit 1; }

if [ "$mode" = seeds ]; then
  rm -rf tests/fuzz/corpus
  "$build"/make_seeds tests/fuzz/corpus
  echo "seeds: $(ls tests/fuzz/corpus | wc -l) files in tests/fuzz/corpus"
  exit 0
fi

artifacts=$build/artifacts
mkdir -p "$artifacts"
# No allocation stacks while fuzzing: those through the uninstrumented TagLib
# are all different and fill memory. A crash is replayed with them.
fuzz_asan=${ASAN_OPTIONS:-detect_leaks=1:malloc_context_size=0:quarantine_size_mb=64}
replay_asan=${ASAN_OPTIONS:-detect_leaks=1}
options=(-max_len=65536 -rss_limit_mb=512 -timeout=10 -artifact_prefix="$artifacts/")

# Keeps what crashed, then fails.
keep_and_fail() {
  local kept=0
  for found in "$artifacts"/*; do
    [ -f "$found" ] || continue
    ASAN_OPTIONS=$replay_asan "$build"/fix_fuzzer "${options[@]}" "$found" 2>&1 | tail -n 40 >&2 || true
    cp "$found" tests/fuzz/regressions/
    echo "fuzz: kept tests/fuzz/regressions/$(basename "$found"); commit it with the fix" >&2
    kept=1
  done
  rm -f "$artifacts"/*
  [ $kept = 1 ] || echo "fuzz: the fuzzer failed without an input to keep" >&2
  exit 1
}

regressions=()
for input in tests/fuzz/regressions/*; do
  [ -f "$input" ] && [ "$(basename "$input")" != README.md ] && regressions+=("$input")
done
if [ ${#regressions[@]} -gt 0 ]; then
  echo "fuzz: ${#regressions[@]} regression inputs"
  ASAN_OPTIONS=$replay_asan "$build"/fix_fuzzer "${options[@]}" "${regressions[@]}" \
    2>"$build/regressions.log" || {
    tail -n 40 "$build/regressions.log" >&2
    exit 1
  }
fi

if [ "$mode" = runs ]; then
  # A fresh working corpus, so that the smoke run is the same every time.
  work=$build/smoke-corpus
  rm -rf "$work" && mkdir -p "$work"
  echo "fuzz: $runs runs"
  ASAN_OPTIONS=$fuzz_asan "$build"/fix_fuzzer "${options[@]}" -seed=1 -runs="$runs" -print_final_stats=1 \
    "$work" tests/fuzz/corpus 2>"$build/fuzz.log" || { tail -n 60 "$build/fuzz.log" >&2; keep_and_fail; }
else
  work=$build/corpus
  mkdir -p "$work"
  echo "fuzz: $seconds seconds, new inputs in $work"
  ASAN_OPTIONS=$fuzz_asan "$build"/fix_fuzzer "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$work" tests/fuzz/corpus 2>"$build/fuzz.log" || { tail -n 60 "$build/fuzz.log" >&2; keep_and_fail; }
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|cov:' "$build/fuzz.log" | tail -n 4 || true
echo "fuzz: no crash"
