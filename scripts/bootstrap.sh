#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need. Safe to run again.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config
    libsqlite3-dev libjpeg62-turbo-dev libxml2-dev nlohmann-json3-dev
    libhowardhinnant-date-dev tzdata
    qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
    libjs-leaflet chromium
    libimage-exiftool-perl libxml2-utils sqlite3
    clang libclang-rt-14-dev clang-format clang-tidy
    locales
    gpscorrelate exiv2 python3-numpy python3-pil
    time ccache gpsbabel libzip-dev iso-codes
    desktop-file-utils appstream lintian dpkg-dev file man-db passwd util-linux
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
