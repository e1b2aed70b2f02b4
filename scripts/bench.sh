#!/bin/sh
# Builds the release preset and runs every benchmark; each prints its figures.
# Each runs in its own sandbox (temporary HOME and XDG folders, a private
# D-Bus session, a throwaway keyring): bench_sync drives the built kernwell.
# Arguments go to every benchmark (bench_sync: --rounds N, --sizes a,b,…).
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh release
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
for bench in build/release/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    tests/support/private-session.sh "$bench" "$@"
done
