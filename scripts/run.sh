#!/bin/sh
# The main job: install what is missing, build, start kernwell.
set -eu
cd "$(dirname "$0")/.."
scripts/build.sh release
exec build/release/bin/kernwell "$@"
