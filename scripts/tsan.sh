#!/usr/bin/env bash
# Builds the tagging run's tests under ThreadSanitizer into build-tsan/ and runs them: the parallel run
# against the sequential one, stop and save failure on several workers. Needs a quiet machine for a few
# minutes. Usage: scripts/tsan.sh [gtest filter]   (default: every test of the run)
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELORO_WERROR=ON -DZELORO_GUI=OFF \
    -DZELORO_BENCH=OFF -DZELORO_SANITIZE=thread "${launcher[@]}" >/dev/null
cmake --build build-tsan -j "$(nproc)" --target zeloro_tagging_tests
# halt_on_error: the first race fails the script rather than scrolling past.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    build-tsan/zeloro_tagging_tests --gtest_filter="${1:-*}" --gtest_repeat=3
