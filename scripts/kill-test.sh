#!/usr/bin/env bash
# Kills tagging runs with SIGKILL at random moments and checks what they leave: every photo must be either
# untouched or fully tagged (byte for byte what a whole run writes), no temporary file of a save may be
# left, and the next run on the same data folder must tag every photo as a whole run does (no lock and no
# track point of the killed run stands in its way).
# Usage: scripts/kill-test.sh [RUNS] [PHOTOS]   (defaults 30 and 300). ZELORO_BUILD_DIR names another build
# folder than build/. Prints one line per run and the totals; exit status 1 when any check failed.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
count=${2:-300}
build=${ZELORO_BUILD_DIR:-build}
cli="$build/zeloro-cli"
for needed in "$cli" "$build/zeloro.sqlite"; do
    if [ ! -e "$needed" ]; then
        echo "kill-test: $needed fehlt; zuerst bauen (siehe README.md)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zeloro-kill.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The sample's photos, copied until there are enough; all lie on the sample's track.
mkdir -p "$work/pristine"
mapfile -t sources < <(find sample/photos -name '*.jpg' | sort)
for ((i = 0; i < count; i++)); do
    cp "${sources[i % ${#sources[@]}]}" "$work/pristine/$(printf 'P%04d.jpg' "$i")"
done

fresh_data() {
    rm -rf "$work/data"
    mkdir "$work/data"
    cp "$build/zeloro.sqlite" "$work/data/"
}

args=(--gpx sample/track.gpx --photos "$work/photos" --zone "UTC + 2:00" --data-dir "$work/data")
run_cli() {
    "$cli" "${args[@]}" "$@"
}

# The reference: what a whole run writes, and how long it takes.
rm -rf "$work/photos" "$work/reference"
cp -r "$work/pristine" "$work/photos"
fresh_data
start=$(date +%s%N)
run_cli > /dev/null
duration_ms=$(( ($(date +%s%N) - start) / 1000000 ))
mv "$work/photos" "$work/reference"
echo "kill-test: $count photos, a whole run takes ${duration_ms} ms; $runs runs killed at random moments"

# 0 when every photo of the folder is pristine or equal to the reference; counts go to tagged/untouched
# (a photo the track does not cover is the same in both and counts as tagged).
check_photos() {
    tagged=0
    untouched=0
    local bad=0 name
    for photo in "$work/photos"/*.jpg; do
        name=$(basename "$photo")
        if cmp -s "$photo" "$work/reference/$name"; then
            tagged=$((tagged + 1))
        elif cmp -s "$photo" "$work/pristine/$name"; then
            untouched=$((untouched + 1))
        else
            echo "  $name is neither untouched nor fully tagged" >&2
            bad=1
        fi
    done
    return $bad
}

failures=0
total_tagged=0
total_untouched=0
for ((run = 1; run <= runs; run++)); do
    rm -rf "$work/photos"
    cp -r "$work/pristine" "$work/photos"
    fresh_data
    # Anywhere from the start (import) to a little after the usual end.
    delay_ms=$(( RANDOM * (duration_ms + duration_ms / 10 + 1) / 32768 ))
    "$cli" "${args[@]}" > /dev/null 2>&1 &  # directly, so that $! is the program itself
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -KILL "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true

    status=ok
    if ! check_photos; then
        status=FAILED
    fi
    total_tagged=$((total_tagged + tagged))
    total_untouched=$((total_untouched + untouched))
    # A kill in the instant between naming the finished temporary file and renaming it leaves that file;
    # the next run must remove it.
    leftovers=$(find "$work/photos" -name '.*.zeloro-*' | wc -l)
    # The next run on the same folder and data folder finishes the work exactly as a whole run does.
    if ! run_cli > /dev/null 2> "$work/next.err" || ! check_photos || [ "$untouched" -ne 0 ]; then
        echo "  the next run did not tag every photo: $(head -c 300 "$work/next.err")" >&2
        status=FAILED
    fi
    if [ "$(find "$work/photos" -name '.*.zeloro-*' | wc -l)" -ne 0 ]; then
        echo "  temporary files are left after the next run" >&2
        status=FAILED
    fi
    [ "$status" = ok ] || failures=$((failures + 1))
    printf 'run %2d: killed after %5d ms: %3d tagged, %3d untouched, %d temporary files (removed by the next run), next run %s\n' \
        "$run" "$delay_ms" "$((total_tagged - ${prev_tagged:-0}))" "$((total_untouched - ${prev_untouched:-0}))" \
        "$leftovers" "$status"
    prev_tagged=$total_tagged
    prev_untouched=$total_untouched
done
between="none in between"
[ "$failures" -eq 0 ] || between="see the failed runs above"
echo "kill-test: $runs runs, $failures failed; photos after the kill: $total_tagged fully tagged," \
    "$total_untouched untouched, $between"
[ "$failures" -eq 0 ]
