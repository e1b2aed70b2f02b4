#!/bin/sh
# The test command: install, build, then run the whole suite. Nothing touches
# the real user's HOME, D-Bus session, keyring or fonts.
set -eu
cd "$(dirname "$0")/.."
PRESET="${1:-release}"
scripts/build.sh "$PRESET"
scripts/install-browser-deps.sh
# A short fuzzing run of the decoders (clang, ASan+UBSan); long runs: scripts/fuzz.sh.
scripts/fuzz.sh --smoke

# Every test program runs in its own sandbox: temporary HOME and XDG folders,
# a private D-Bus session and a throwaway keyring (tests/support/private-session.sh).
exec ctest --preset "$PRESET" --parallel 2 "$@"
