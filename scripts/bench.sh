#!/bin/sh
# Builds the release preset and runs every benchmark; each prints its figures.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh release
SANDBOX="$(mktemp -d /tmp/kernwell-bench-XXXXXX)"
trap 'rm -rf "$SANDBOX"' EXIT
. scripts/sandbox-env.sh
enter_sandbox "$SANDBOX"
for bench in build/release/bench/bench_*; do
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    "$bench" "$@"
done
