#!/usr/bin/env bash
# bench/gpx-import.sh BUILD_DIR [POINTS]: generates a GPX track of POINTS points (default 1,000,000)
# and times its import by zeloro_gpx_import_bench next to `xmllint --stream --noout` on the same file.
# Wall time, peak RSS (GNU time's "Maximum resident set size") and the ratios to the floor are printed.
set -euo pipefail
build=${1:?usage: gpx-import.sh BUILD_DIR [POINTS]}
points=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gpx=$work/track.gpx
"$build/tools/zeloro_make_gpx_track" "$gpx" "$points"
size=$(stat -c %s "$gpx")

measure() {  # label command...: prints "label wall_s peak_kib cpu_s"
    local label=$1
    shift
    local start end
    start=$(date +%s%N)
    /usr/bin/time -v -o "$work/time.txt" "$@" > "$work/out.txt"
    end=$(date +%s%N)
    local rss cpu
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%.3f", s}' "$work/time.txt")
    echo "$label $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", (b - a) / 1e9}') $rss $cpu"
}

echo "file: $points points, $size bytes"
floor=$(measure xmllint xmllint --stream --noout "$gpx")
ours=$(measure import "$build/zeloro_gpx_import_bench" "$gpx")
cat "$work/out.txt"
read -r _ floor_s floor_kib floor_cpu <<<"$floor"
read -r _ ours_s ours_kib ours_cpu <<<"$ours"
# On a shared machine the wall times swing with the load; the CPU times (user + system) are steadier.
awk -v fs="$floor_s" -v fk="$floor_kib" -v fc="$floor_cpu" -v os="$ours_s" -v ok="$ours_kib" -v oc="$ours_cpu" \
    -v n="$points" -v size="$size" 'BEGIN {
    printf "%-22s %10s %10s %12s %14s\n", "", "wall s", "cpu s", "points/s", "peak RSS MiB"
    printf "%-22s %10.3f %10.3f %12.0f %14.1f\n", "xmllint --stream", fs, fc, n / fs, fk / 1024
    printf "%-22s %10.3f %10.3f %12.0f %14.1f\n", "importGpx", os, oc, n / os, ok / 1024
    printf "wall ratio to floor: %.2f, cpu ratio: %.2f (goal <= 5)   peak RSS / file size: %.2f (goal < 10)\n",
        os / fs, oc / fc, ok * 1024 / size
}'
