#!/bin/sh
# Brings what the real-browser test needs: Debian's Chromium, Node.js with npm
# when missing, and the test's locked npm packages. Idempotent. Playwright never
# downloads a browser of its own here: the test drives /usr/bin/chromium.
set -eu
cd "$(dirname "$0")/.."

extra=""
command -v chromium >/dev/null 2>&1 || extra="$extra chromium"
command -v node >/dev/null 2>&1 || extra="$extra nodejs"
command -v npm >/dev/null 2>&1 || extra="$extra npm"
# shellcheck disable=SC2086
scripts/install-deps.sh $extra

export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
# npm ci starts from scratch every time: skip it while the installed tree is
# newer than the lock file.
stamp=tests/e2e/node_modules/.kernwell-installed
if ! [ -d tests/e2e/node_modules/playwright-core ] || ! [ "$stamp" -nt tests/e2e/package-lock.json ]; then
    (cd tests/e2e && npm ci --no-audit --no-fund --loglevel=error)
    touch "$stamp"
fi
