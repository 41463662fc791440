#!/usr/bin/env bash
# Geotags a copy of the bundled sample photos with the bundled track.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "zeloro-cli is not built yet"
