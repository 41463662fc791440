#!/usr/bin/env bash
# Builds with warnings as errors under address and undefined sanitizers into build-dev/ and runs every
# test there, the window's and the end-to-end ones included. One build serves every check, so nothing is
# compiled twice; the compiler cache (ccache, when installed) keeps a second run short.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset dev >/dev/null
cmake --build build-dev -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-dev --output-on-failure --no-tests=error -j "$jobs"
