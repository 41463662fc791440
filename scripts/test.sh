#!/usr/bin/env bash
# Builds with warnings as errors into build/ and runs every test. With --asan it then builds into
# build-asan/ under address and undefined sanitizers and runs the unit tests there again.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset dev >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"
if [ "${1:-}" = "--asan" ]; then
    cmake --preset asan >/dev/null
    cmake --build build-asan -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs" -LE e2e
fi
