#!/bin/sh
# Brings what the real-browser test needs: Debian's Chromium, Node.js with npm
# when missing, and the test's locked npm packages. Idempotent. Playwright never
# downloads a browser of its own here: the test drives /usr/bin/chromium.
set -eu
cd "$(dirname "$0")/.."

missing=""
command -v chromium >/dev/null 2>&1 || missing="$missing chromium"
command -v node >/dev/null 2>&1 || missing="$missing nodejs"
command -v npm >/dev/null 2>&1 || missing="$missing npm"
if [ -n "$missing" ]; then
    SUDO=""
    if [ "$(id -u)" != 0 ]; then
        SUDO="sudo"
    fi
    echo "Installing:$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
# npm ci starts from scratch every time: skip it while the installed tree is
# newer than the lock file.
stamp=tests/e2e/node_modules/.kernwell-installed
if ! [ -d tests/e2e/node_modules/playwright-core ] || ! [ "$stamp" -nt tests/e2e/package-lock.json ]; then
    (cd tests/e2e && npm ci --no-audit --no-fund --loglevel=error)
    touch "$stamp"
fi
