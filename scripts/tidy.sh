#!/usr/bin/env bash
# Runs the checks of .clang-tidy over the given sources (default: every .cpp of src/), with the compile
# commands of a configured build folder. Opt-in: neither the build nor the tests run it.
# Usage: scripts/tidy.sh [-p BUILD_DIR] [files...]   (default build folder: build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
if [ "${1:-}" = "-p" ]; then
    build=$2
    shift 2
fi
[ -f "$build/compile_commands.json" ] || { echo "tidy: $build/compile_commands.json is missing; configure first" >&2; exit 1; }
if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files -- 'src/*.cpp')
fi
clang-tidy -p "$build" --quiet "${files[@]}"
