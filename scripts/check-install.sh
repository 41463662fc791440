#!/usr/bin/env bash
# Installs a finished build into a staging prefix and runs the installed zeloro-cli as a throwaway
# normal user with a fresh home on a copy of the sample: the photos are tagged, the user's data folder
# is created from the installed template, and nothing is written anywhere else. Then the faults a
# normal user meets: a read-only database and a data folder that cannot be created, each reported by
# name with exit status 4 before any photo is touched.
# Usage: check-install.sh BUILD_DIR SOURCE_DIR. Needs root (to create the user); without root it skips
# (exit 77), unless CI is set.
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")

if [ "$(id -u)" -ne 0 ]; then
    if [ -n "${CI:-}" ]; then
        echo "check-install: needs root in CI (it creates a throwaway user)" >&2
        exit 1
    fi
    echo "check-install: skipped, needs root to create a throwaway user"
    exit 77
fi

fail() {
    echo "check-install: $*" >&2
    exit 1
}

user="zeloro-t$$"
tmp=$(mktemp -d /tmp/zeloro-install.XXXXXX)
cleanup() {
    userdel "$user" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
chmod 755 "$tmp"

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
template="$prefix/share/zeloro"
for needed in bin/zeloro-cli share/zeloro/zeloro.sqlite share/zeloro/maps/marker.png share/zeloro/maps/leaflet.js \
    share/zeloro/maps/leaflet.markercluster.js share/zeloro/zeloro-places.bin \
    share/man/man1/zeloro-cli.1.gz share/man/de/man1/zeloro-cli.1.gz share/bash-completion/completions/zeloro-cli; do
    [ -e "$prefix/$needed" ] || fail "$needed is not installed"
done
# The template is shared by every user of the system and must not be theirs to change.
writable=$(find "$prefix" -perm -o+w ! -type l)
[ -z "$writable" ] || fail "world-writable after install: $writable"

useradd --no-create-home --home-dir "$tmp/home" --shell /bin/sh --user-group "$user"
mkdir "$tmp/home" "$tmp/cwd"
cp -r "$source/sample" "$tmp/work"
chown -R "$user:" "$tmp/home" "$tmp/cwd" "$tmp/work"
touch "$tmp/stamp"

# The user's own environment, nothing of ours: no XDG_DATA_HOME, so ~/.local/share.
as_user() {
    (cd "$tmp/cwd" && setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i HOME="$tmp/home" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 "$@")
}

status=0
as_user "$prefix/bin/zeloro-cli" --gpx "$tmp/work/track.gpx" --photos "$tmp/work/photos" \
    --zone "UTC + 2:00" --map >"$tmp/out" 2>"$tmp/err" || status=$?
[ "$status" -eq 0 ] || fail "the run as $user exited $status: $(cat "$tmp/err")"
[ ! -s "$tmp/err" ] || fail "the run wrote errors: $(cat "$tmp/err")"

data="$tmp/home/.local/share/kvd/zeloro"
[ -f "$data/zeloro.sqlite" ] || fail "no data folder $data with zeloro.sqlite"
[ -f "$data/maps/marker.png" ] && [ -f "$data/maps/leaflet.js" ] || fail "maps/ was not copied from the template"
[ -f "$data/maps/index.html" ] || fail "the map page was not written into the user's data folder"
grep -qx "$data/maps/index.html" "$tmp/out" || fail "the map page's path was not printed"
[ -z "$(find "$data" ! -user "$user")" ] || fail "files in the data folder not owned by $user"

# The place data is read where it is installed and never copied into the user's data folder.
status=0
as_user "$prefix/bin/zeloro-cli" --gpx "$tmp/work/track.gpx" --photos "$tmp/work/photos" \
    --zone auto --places --dry-run --json >"$tmp/places" 2>"$tmp/err" || status=$?
[ "$status" -eq 0 ] || fail "the run with --places exited $status: $(cat "$tmp/err")"
grep -q '"place":{"city":"Konstanz"' "$tmp/places" || fail "--places named no place: $(cat "$tmp/places")"
grep -q '"zone":"Europe/Berlin"' "$tmp/places" || fail "--zone auto named no zone: $(cat "$tmp/places")"
[ ! -e "$data/zeloro-places.bin" ] || fail "the place data was copied into the data folder"

# The installed window answers --version as the user with no display (env -i leaves none), with the
# version zeloro-cli gives, and its desktop entry is where desktops look for it.
if [ -x "$prefix/bin/zeloro" ]; then
    status=0
    as_user "$prefix/bin/zeloro" --version >"$tmp/version" 2>"$tmp/err" || status=$?
    [ "$status" -eq 0 ] && [ ! -s "$tmp/err" ] ||
        fail "zeloro --version without a display exited $status: $(cat "$tmp/err")"
    cli_version=$(as_user "$prefix/bin/zeloro-cli" --version)
    [ "$(cat "$tmp/version")" = "zeloro ${cli_version#zeloro-cli }" ] ||
        fail "zeloro --version gave '$(cat "$tmp/version")', zeloro-cli --version '$cli_version'"
    [ -f "$prefix/share/applications/de.kvd.zeloro.desktop" ] || fail "the desktop entry is not installed"
fi

# Every photo the log calls tagged carries a position, as an independent reader sees it.
tagged=$(grep -c " getaggt!$" "$tmp/out" || true)
with_gps=$(exiftool -q -q -if '$GPSLatitude' -p '$FileName' -r "$tmp/work/photos" | wc -l)
[ "$with_gps" -gt 0 ] || fail "no photo carries a GPS position after the run: $(cat "$tmp/out")"
[ "$with_gps" -eq "$tagged" ] || fail "$with_gps photos carry a position, the log tells of $tagged"

# Nothing written outside the user's home and the photo copy: not the prefix, not the working
# directory, not the build, not the system.
[ -z "$(find "$prefix" -newer "$tmp/stamp")" ] || fail "the run changed the installed files: $(find "$prefix" -newer "$tmp/stamp")"
[ -z "$(ls -A "$tmp/cwd")" ] || fail "the run wrote into its working directory: $(ls -A "$tmp/cwd")"
# find exits 1 when a file of another process vanishes while it walks; only what it prints counts.
stray=$(find / -xdev \( -path /proc -o -path "$tmp" \) -prune -o -user "$user" -print 2>/dev/null | head -5 || true)
[ -z "$stray" ] || fail "files of $user outside its home and the photo copy: $stray"
home_entries=$(cd "$tmp/home" && find . -mindepth 1 -maxdepth 4 -type d | sort | tr '\n' ' ')
[ "$home_entries" = "./.local ./.local/share ./.local/share/kvd ./.local/share/kvd/zeloro " ] ||
    [ "$home_entries" = "./.local ./.local/share ./.local/share/kvd ./.local/share/kvd/zeloro ./.local/share/kvd/zeloro/maps " ] ||
    fail "unexpected folders in the home: $home_entries"

# XDG_DATA_HOME, when set and absolute, is the user's data folder.
mkdir "$tmp/xdg" && chown "$user:" "$tmp/xdg"
status=0
as_user XDG_DATA_HOME="$tmp/xdg" "$prefix/bin/zeloro-cli" --gpx "$tmp/work/track.gpx" \
    --photos "$tmp/work/photos" >/dev/null 2>"$tmp/err" || status=$?
[ "$status" -eq 0 ] || fail "the run with XDG_DATA_HOME exited $status: $(cat "$tmp/err")"
[ -f "$tmp/xdg/kvd/zeloro/zeloro.sqlite" ] || fail "no data folder under XDG_DATA_HOME"

# A database the user cannot write: named with its reason, exit 4, no photo touched.
cp -r "$source/sample" "$tmp/fresh" && chown -R "$user:" "$tmp/fresh"
before=$(cd "$tmp/fresh" && find . -type f -exec md5sum {} + | sort)
chmod a-w "$data/zeloro.sqlite"
status=0
as_user "$prefix/bin/zeloro-cli" --gpx "$tmp/fresh/track.gpx" --photos "$tmp/fresh/photos" \
    >"$tmp/out" 2>"$tmp/err" || status=$?
[ "$status" -eq 4 ] || fail "a read-only database gave exit status $status"
grep -qF "Die Datenbank $data/zeloro.sqlite ist schreibgeschützt (keine Berechtigung)." "$tmp/err" ||
    fail "a read-only database was reported as: $(cat "$tmp/err")"
chmod u+w "$data/zeloro.sqlite"
chmod a-w "$data"
status=0
as_user "$prefix/bin/zeloro-cli" --gpx "$tmp/fresh/track.gpx" --photos "$tmp/fresh/photos" \
    >"$tmp/out" 2>"$tmp/err" || status=$?
[ "$status" -eq 4 ] || fail "a read-only data folder gave exit status $status"
grep -qF "Die Datenbank $data/zeloro.sqlite kann nicht geschrieben werden: der Ordner $data ist schreibgeschützt" "$tmp/err" ||
    fail "a read-only data folder was reported as: $(cat "$tmp/err")"
chmod u+w "$data"

# A home the user cannot write: the data folder cannot be created; named with its reason, exit 4.
mkdir "$tmp/lockedhome" && chmod 555 "$tmp/lockedhome"
status=0
(cd "$tmp/cwd" && setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$tmp/lockedhome" \
    PATH=/usr/bin:/bin LC_ALL=C.UTF-8 "$prefix/bin/zeloro-cli" --gpx "$tmp/fresh/track.gpx" \
    --photos "$tmp/fresh/photos") >"$tmp/out" 2>"$tmp/err" || status=$?
[ "$status" -eq 4 ] || fail "an unwritable home gave exit status $status: $(cat "$tmp/err")"
grep -qF "Der Datenordner $tmp/lockedhome/.local/share/kvd/zeloro/ kann nicht angelegt werden: keine Berechtigung." "$tmp/err" ||
    fail "an unwritable home was reported as: $(cat "$tmp/err")"

after=$(cd "$tmp/fresh" && find . -type f -exec md5sum {} + | sort)
[ "$before" = "$after" ] || fail "a photo was touched although the data folder was at fault"
echo "check-install: the installed zeloro-cli tagged $with_gps photos as $user; data folder $data"
