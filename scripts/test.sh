#!/usr/bin/env bash
# Checks the includes against the layers of layers.txt, then builds the
# normal and the sanitizer configuration and runs the whole test
# suite in both; in between, builds the libFuzzer targets and runs each for
# a short fixed time (FUZZ_SECONDS, default 20; 0 skips them). Exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
# The desktop program's Qt tests run without a display.
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)

build() { # dir, extra cmake args...
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

echo "== layer check"
scripts/check-layers.sh

echo "== normal build"
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$jobs"

fuzz_seconds=${FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then
    echo "== fuzz targets, ${fuzz_seconds}s each"
    scripts/fuzz.sh "$fuzz_seconds"
fi

echo "== sanitizer build (address, undefined)"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== all tests passed"
