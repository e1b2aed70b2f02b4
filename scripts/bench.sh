#!/bin/sh
# Builds the release preset and runs every benchmark; each prints its figures.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh release
SANDBOX="$(mktemp -d /tmp/kernwell-bench-XXXXXX)"
trap 'rm -rf "$SANDBOX"' EXIT
export HOME="$SANDBOX/home" XDG_DATA_HOME="$SANDBOX/home/.local/share" XDG_CONFIG_HOME="$SANDBOX/home/.config"
export XDG_CACHE_HOME="$SANDBOX/home/.cache" XDG_RUNTIME_DIR="$SANDBOX/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
for bench in build/release/bench/bench_*; do
    [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    "$bench" "$@"
done
