#!/usr/bin/env bash
# Checks the include lines of src/ against the arrows between the subsystems. Each argument after the
# source folder is "folder=used folders" (what the folder may use, arrows followed to the end, as the
# top CMakeLists.txt computes it). A file of src/<folder>/ may include "<other>/..." only when <other> is
# its own folder or a used one, and never "<other>/detail/...". Prints every wrong include; exits 1 when
# there is one.
#   scripts/check-arrows.sh SRC_DIR "common=" "time=common" "xml=common" ...
#   scripts/check-arrows.sh --self-test   (shows that a wrong-way include and a foreign detail/ fail)
set -euo pipefail

check() {
    local src=$1
    shift
    local -A uses=()
    local arg
    for arg in "$@"; do
        uses[${arg%%=*}]=" ${arg#*=} "
    done
    local bad=0 folder file line target other
    for folder in "${!uses[@]}"; do
        [ -d "$src/$folder" ] || { echo "check-arrows: no folder $src/$folder" >&2; bad=1; continue; }
        while IFS= read -r line; do
            file=${line%%:*}
            target=$(sed -E 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$line")
            other=${target%%/*}
            [ "$other" != "$target" ] || continue  # a file of the same folder, named without one
            if [ "$other" != "$folder" ] && [[ ${uses[$folder]} != *" $other "* ]]; then
                echo "${line%%:*}:$(cut -d: -f2 <<<"$line"): $folder may not include $target (no arrow $folder -> $other)"
                bad=1
            elif [ "$other" != "$folder" ] && [[ $target == */detail/* ]]; then
                echo "${line%%:*}:$(cut -d: -f2 <<<"$line"): $target is private to $other"
                bad=1
            fi
        done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' --include='*.h' --include='*.cpp' \
                     "$src/$folder" || true)
    done
    return $bad
}

selfTest() {
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/low" "$tmp/high/detail"
    printf '#include "low/A.h"\n#include "high/detail/B.h"\n' >"$tmp/high/C.cpp"
    printf '#include "A.h"\n#include <vector>\n' >"$tmp/low/A.cpp"
    local out
    if ! out=$(check "$tmp" "low=" "high=low"); then
        echo "self-test: a tree without wrong includes was refused:"; echo "$out"; return 1
    fi
    printf '#include "high/C.h"\n' >>"$tmp/low/A.cpp"
    printf '#include "high/detail/B.h"\n' >"$tmp/low/D.h"
    if out=$(check "$tmp" "low=" "high=low"); then
        echo "self-test: a wrong-way include passed"; return 1
    fi
    grep -q 'low/A.cpp:3: low may not include high/C.h' <<<"$out" || { echo "self-test: wrong-way include not named:"; echo "$out"; return 1; }
    grep -q 'low/D.h:1: low may not include high/detail/B.h' <<<"$out" || { echo "self-test: detail include not named:"; echo "$out"; return 1; }
    rm "$tmp/low/D.h"
    sed -i '$d' "$tmp/low/A.cpp"
    printf '#include "high/detail/B.h"\n' >"$tmp/low/E.cpp"
    if out=$(check "$tmp" "low=high" "high="); then
        echo "self-test: an include of another folder's detail/ passed"; return 1
    fi
    grep -q 'low/E.cpp:1: high/detail/B.h is private to high' <<<"$out" || { echo "self-test: detail include not named:"; echo "$out"; return 1; }
    echo "self-test: wrong-way and detail/ includes are refused"
}

if [ "${1:-}" = "--self-test" ]; then
    selfTest
else
    check "$@"
fi
