#!/usr/bin/env bash
# Reports every C++ file of the repository that .clang-format would change, and fails when there is one.
# Usage: scripts/format-check.sh [files...]   (default: all of src/ tests/ fuzz/ tools/ bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' \
                             'tools/*.cpp' 'tools/*.h' 'bench/*.cpp')
fi
clang-format --dry-run --Werror "${files[@]}"
