#!/bin/sh
# Configures and builds one preset (default: release) after installing what is missing.
set -eu
cd "$(dirname "$0")/.."
PRESET="${1:-release}"
scripts/install-deps.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET"
