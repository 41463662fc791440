#!/usr/bin/env bash
# Times zeloro-cli next to exiftool, gpscorrelate and cp on the shared benchmark corpora: 1000 small
# and 50 large photos, median of three runs each (photos per second, peak memory). Heavy: run it alone.
# Usage: bench/bench-cli.sh [BUILD_DIR]   (a Release build; default build/)
#   JOBS=N    passes --jobs N to zeloro-cli (default: none, one photo per core)
#   OPTIONS=  more options of zeloro-cli, e.g. OPTIONS=--places to time the place names
#   TOOLS=..  the tools to time (default cat,cp,exiftool,gpscorrelate,ours); e.g. TOOLS=ours for scaling
#   CORPORA=  "small 1000" and/or "large 50" (default both)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
peers=$(cd ../shared/bench 2>/dev/null && pwd) || { echo "bench-cli: ../shared/bench is missing" >&2; exit 1; }
[ -x "$build/zeloro-cli" ] || { echo "bench-cli: $build/zeloro-cli is missing" >&2; exit 1; }
data=$(mktemp -d "${TMPDIR:-/tmp}/zeloro-bench-data.XXXXXX")
trap 'rm -rf "$data"' EXIT
cp "$build/zeloro.sqlite" "$data/"
ours="$build/zeloro-cli --gpx {gpx} --photos {dir} --zone {zone_index} --tolerance {tol} --data-dir $data${JOBS:+ --jobs $JOBS}${OPTIONS:+ $OPTIONS}"
IFS=',' read -r -a corpora <<<"${CORPORA:-small 1000,large 50}"
for corpus in "${corpora[@]}"; do
    set -- $corpus
    "$peers/bench-peers.sh" --preset "$1" -n "$2" --runs 3 --tools "${TOOLS:-cat,cp,exiftool,gpscorrelate,ours}" \
        --ours "$ours" --work "${TMPDIR:-/tmp}/zeloro-bench-$1"
done
