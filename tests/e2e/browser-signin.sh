#!/bin/sh
# Runs browser-signin.mjs in a sandbox: kernwell installed into a temporary
# prefix, a temporary HOME and XDG folders, a private D-Bus session. The real
# user's fonts, keyring and configuration are never touched.
# Usage: tests/e2e/browser-signin.sh <build dir>
set -eu
HERE="$(cd "$(dirname "$0")" && pwd)"
BUILD="$(cd "${1:?usage: browser-signin.sh <build dir>}" && pwd)"

if [ ! -d "$HERE/node_modules/playwright-core" ]; then
    echo "playwright-core is not installed: run scripts/install-browser-deps.sh" >&2
    exit 1
fi
for tool in chromium node xvfb-run dbus-run-session dbus-send dbus-monitor gnome-keyring-daemon xdg-open xdg-mime fc-list; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is missing: run scripts/install-deps.sh and scripts/install-browser-deps.sh" >&2
        exit 1
    fi
done

SANDBOX="$(mktemp -d /tmp/kernwell-e2e-XXXXXX)"
trap 'rm -rf "$SANDBOX"' EXIT
mkdir -p "$SANDBOX/logs"
cmake --install "$BUILD" --prefix "$SANDBOX/prefix" >"$SANDBOX/logs/install.log"

. "$HERE/../../scripts/sandbox-env.sh"
enter_sandbox "$SANDBOX"
export KERNWELL_PREFIX="$SANDBOX/prefix" E2E_SANDBOX="$SANDBOX" E2E_SCREENSHOTS="$BUILD/e2e-screenshots"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
unset DISPLAY WAYLAND_DISPLAY XDG_CURRENT_DESKTOP KERNWELL_INFO_PLIST

rm -rf "$E2E_SCREENSHOTS"
status=0
# xdg-open hands URLs to scheme handlers only where a display is (a virtual
# one here); kernwell itself runs offscreen. The outer bus stands in for the
# system bus, as for every test (tests/support/private-session.sh).
xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- sh -c '
    export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
    exec dbus-run-session -- "$@"
' private-system-bus node "$HERE/browser-signin.mjs" || status=$?
if [ "$status" -ne 0 ]; then
    for log in "$SANDBOX"/logs/*.log; do
        echo "--- $(basename "$log")"
        tail -n 15 "$log"
    done
fi
exit "$status"
