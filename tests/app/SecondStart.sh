#!/usr/bin/env bash
# The built window under a virtual display, as separate processes: a second start on the same data folder
# opens no window and says so; a window killed with SIGKILL leaves its files behind, and the next start
# takes them over and is the one window again.
# Usage: SecondStart.sh ZELORO DATABASE. Skips (77) without xvfb-run, unless CI is set.
set -euo pipefail
zeloro=$1
database=$2
if ! command -v xvfb-run >/dev/null; then
    [ -z "${CI:-}" ] || { echo "SecondStart: xvfb-run is missing, and CI must run this test" >&2; exit 1; }
    echo "SecondStart: skipped, xvfb-run is missing"
    exit 77
fi
if [ -z "${SECOND_START_DISPLAY:-}" ]; then
    SECOND_START_DISPLAY=1 exec xvfb-run -a "$0" "$@"
fi

tmp=$(mktemp -d /tmp/zeloro-second-start.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "SecondStart: $*" >&2
    exit 1
}
mkdir -p "$tmp/xdg/kvd/zeloro" "$tmp/run" "$tmp/config"
chmod 700 "$tmp/run"
cp "$database" "$tmp/xdg/kvd/zeloro/zeloro.sqlite"
export XDG_DATA_HOME="$tmp/xdg" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/config"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# Waits until a window listens for later starts.
wait_for_socket() {
    for _ in $(seq 100); do
        if compgen -G "$tmp/run/zeloro-*.socket" >/dev/null; then return 0; fi
        sleep 0.1
    done
    fail "no window listens after 10 s"
}

"$zeloro" 2>"$tmp/first.err" &
pids+=($!)
first=$!
wait_for_socket
kill -0 "$first" || fail "the first window ended: $(cat "$tmp/first.err")"

# True when a window answers on the socket (a connection alone asks nothing of it).
socket_answers() {
    python3 -c 'import glob, socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(glob.glob(sys.argv[1] + "/zeloro-*.socket")[0])' "$tmp/run" 2>/dev/null
}
socket_answers || fail "the first window does not answer on its socket"

# A later start shows its information box (which nobody closes here) after saying so on its error stream.
second_start() {
    timeout 5 "$zeloro" 2>"$tmp/$1.err" || true
    grep -qx "Zeloro ist bereits geöffnet" "$tmp/$1.err" || fail "$1 start: $(cat "$tmp/$1.err")"
}
second_start second

kill -9 "$first"
wait "$first" 2>/dev/null || true
compgen -G "$tmp/run/zeloro-*.socket" >/dev/null || fail "the killed window left no socket to take over"
socket_answers && fail "the killed window's socket still answers"
"$zeloro" 2>"$tmp/next.err" &
pids+=($!)
next=$!
sleep 2
kill -0 "$next" || fail "the start after a killed window ended: $(cat "$tmp/next.err")"
grep -q "bereits" "$tmp/next.err" && fail "the start after a killed window was refused: $(cat "$tmp/next.err")"
socket_answers || fail "the start after a killed window does not answer on the socket left behind"
second_start third
echo "SecondStart: refused twice, the killed window's files taken over"
