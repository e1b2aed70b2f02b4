#!/bin/sh
# Runs one test program in its own sandbox: temporary HOME and XDG folders,
# private D-Bus session and system buses and a throwaway, unlocked
# gnome-keyring. Each test gets its own buses so that tests running in
# parallel never meet on a bus name (the application's single-instance name,
# a fake notification server).
# Usage: private-session.sh <program> [arguments...]
set -eu
for tool in dbus-run-session gnome-keyring-daemon; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is missing: run scripts/install-deps.sh" >&2
        exit 1
    fi
done

SANDBOX="$(mktemp -d /tmp/kernwell-test-XXXXXX)"
# A keyring daemon a test stopped or froze may outlive its bus: end every one
# started for this sandbox.
cleanup() {
    for pid in $(pgrep -f gnome-keyring-daemon || true); do
        if grep -qz "^XDG_RUNTIME_DIR=$SANDBOX/runtime\$" "/proc/$pid/environ" 2>/dev/null; then
            kill -CONT "$pid" 2>/dev/null || true
            kill "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$SANDBOX"
}
trap cleanup EXIT
. "$(dirname "$0")/../../scripts/sandbox-env.sh"
enter_sandbox "$SANDBOX"

# The outer bus stands in for the system bus, so that no test meets this
# machine's NetworkManager or logind (a test may own their names there); the
# inner one is the session bus.
# The keyring's password is read from stdin: an empty stdin creates no login
# keyring at all (and every store then fails), an empty line creates one with
# an empty password.
dbus-run-session -- sh -c '
    export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
    exec dbus-run-session -- "$@"
' private-system-bus sh -c '
    printf "\n" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    exec "$@"
' private-session "$@"
