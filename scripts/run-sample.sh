#!/usr/bin/env bash
# Geotags a copy of the bundled sample photos with the bundled track and writes the map page; prints
# the log and the page's path. The copy and its data folder stay in a temporary folder for a look.
# ZELORO_BUILD_DIR names another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZELORO_BUILD_DIR:-build}
for needed in "$build/zeloro-cli" "$build/zeloro.sqlite" "$build/maps"; do
    if [ ! -e "$needed" ]; then
        echo "run-sample: $needed fehlt; zuerst bauen (siehe README.md)" >&2
        exit 1
    fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/zeloro-sample.XXXXXX")
cp -r sample "$work/sample"
mkdir "$work/data"
cp "$build/zeloro.sqlite" "$work/data/"
cp -r "$build/maps" "$work/data/maps"
echo "Beispiel: $work/sample (Kamerauhr in UTC + 2:00)"
exec "$build/zeloro-cli" --gpx "$work/sample/track.gpx" --photos "$work/sample/photos" \
    --zone "UTC + 2:00" --data-dir "$work/data" --map
