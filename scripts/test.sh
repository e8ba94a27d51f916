#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Release build, the address and
# undefined-behaviour sanitizer build, the thread sanitizer build of the core, and each fuzz
# target for a while. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# Seconds per fuzz target: the reader-level and text parser targets, and the slower whole-load
# targets. The 23 targets at these take about four minutes.
FUZZ_SECONDS=${FUZZ_SECONDS:-12}
FUZZ_WHOLE_SECONDS=${FUZZ_WHOLE_SECONDS:-6}
jobs=$(nproc)

step() { printf '\n==== %s ====\n' "$*"; }

step "Release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j"$jobs"

step "Address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON \
      -DLUMORA_BENCH=OFF >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

step "Thread sanitizer (core)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_TSAN=ON \
      -DLUMORA_GUI=OFF -DLUMORA_BENCH=OFF >/dev/null
cmake --build build-tsan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L core

step "Fuzz targets, ${FUZZ_SECONDS} s each (whole-load targets ${FUZZ_WHOLE_SECONDS} s)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DLUMORA_FUZZ=ON -DLUMORA_GUI=OFF -DLUMORA_TESTS=OFF -DLUMORA_BENCH=OFF >/dev/null
cmake --build build-fuzz
scripts/fuzz.sh build-fuzz "$FUZZ_SECONDS" "$FUZZ_WHOLE_SECONDS"

step "All tests passed"
