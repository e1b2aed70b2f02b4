#!/bin/sh
# The main job: install what is missing, build, start the local font service
# that the default configuration points at, then kernwell. The service is
# stopped again when kernwell ends, and kernwell withdraws its fonts on quit.
#
# Without a display (or with --demo) it runs the whole journey by itself in a
# sandbox under Xvfb instead: sign in, add two styles, remove one, printing
# each step (scripts/demo.sh; its options pass through).
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh release

if [ "${1:-}" = "--demo" ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
    [ "${1:-}" = "--demo" ] && shift
    exec scripts/demo.sh --headless --build-dir build/release "$@"
fi

PORT=47800
SERVICE=build/release/localservice/kernwell-localservice
SERVICE_DATA="${XDG_DATA_HOME:-$HOME/.local/share}/kernwell-localservice"
service_pid=""

cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

service_answers() {
    curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$PORT/" 2>/dev/null
}

if [ -x "$SERVICE" ] && ! service_answers; then
    mkdir -p "$SERVICE_DATA"
    "$SERVICE" --port "$PORT" --data-dir "$SERVICE_DATA" >/dev/null &
    service_pid=$!
    tries=0
    until service_answers; do
        tries=$((tries + 1))
        if [ "$tries" -gt 50 ] || ! kill -0 "$service_pid" 2>/dev/null; then
            echo "run.sh: the local font service did not start on port $PORT" >&2
            exit 1
        fi
        sleep 0.2
    done
    echo "Local font service: http://127.0.0.1:$PORT (sign in there from the Kernwell window)" >&2
fi

build/release/bin/kernwell "$@"
