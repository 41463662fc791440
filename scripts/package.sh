#!/usr/bin/env bash
# Builds the Debian package zeloro_<version>_<arch>.deb with the release preset (programs only, no
# tests or benchmarks) into build-package/, and checks it: its control data (dpkg-deb --info) and
# lintian, which must report no error. Prints the package's path last.
# Building it needs the packages of scripts/bootstrap.sh; Leaflet (libjs-leaflet) and its marker clusters
# (libjs-leaflet.markercluster) are copied into the package at build time, so they are no run-time Depends.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-package
cmake --preset release -B "$dir" -DZELORO_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/zeloro_*.deb)
dpkg-deb --info "$deb"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libsqlite3 libzip4 qt6-translations-l10n; do
    case $depends in
        *"$library"*) ;;
        *) echo "package: Depends lacks $library, which the programs need: $depends" >&2; exit 1 ;;
    esac
done
# lintian exits non-zero on errors; warnings are shown and let through.
lintian --tag-display-limit 0 "$deb"
echo "$deb"
