#!/usr/bin/env bash
# bench/track-import.sh BUILD_DIR [POINTS]: the same track of POINTS points (default 1,000,000) as GPX, FIT,
# NMEA and KML (a gx:Track), each imported by zeloro_track_import_bench; wall and CPU time, peak RSS (GNU
# time's "Maximum resident set size") and the ratios to the GPX import are printed. A gx:Track gives all its
# times before its positions, so its reader holds the times of one track (8 bytes a point) until they pair.
set -euo pipefail
build=${1:?usage: track-import.sh BUILD_DIR [POINTS]}
points=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/zeloro_make_gpx_track" "$work/track.gpx" "$points"
"$build/tools/zeloro_make_track_files" "$work/track.fit" "$work/track.nmea" "$work/track.kml" "$points"

measure() {  # file: prints "wall_s peak_kib cpu_s"
    local start end rss cpu
    start=$(date +%s%N)
    /usr/bin/time -v -o "$work/time.txt" "$build/zeloro_track_import_bench" "$1" > "$work/out.txt"
    end=$(date +%s%N)
    grep -q '^result=true' "$work/out.txt" || { cat "$work/out.txt" >&2; exit 1; }
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%.3f", s}' "$work/time.txt")
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", (b - a) / 1e9}') $rss $cpu"
}

echo "track: $points points"
read -r gpx_s gpx_kib gpx_cpu <<<"$(measure "$work/track.gpx")"
printf "%-6s %10s %10s %12s %14s %12s %10s\n" "" "wall s" "cpu s" "points/s" "peak RSS MiB" "file MiB" "cpu / GPX"
for format in gpx fit nmea kml; do
    read -r s kib cpu <<<"$(measure "$work/track.$format")"
    size=$(stat -c %s "$work/track.$format")
    awk -v f="$format" -v s="$s" -v k="$kib" -v c="$cpu" -v n="$points" -v size="$size" -v gc="$gpx_cpu" 'BEGIN {
        printf "%-6s %10.3f %10.3f %12.0f %14.1f %12.1f %10.2f\n", f, s, c, n / s, k / 1024, size / 1048576, c / gc
    }'
done
