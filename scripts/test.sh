#!/bin/sh
# The test command: install, build, then run the whole suite on a private
# D-Bus session with a throwaway, unlocked gnome-keyring. Nothing touches the
# real user's HOME, keyring or fonts.
set -eu
cd "$(dirname "$0")/.."
PRESET="${1:-release}"
scripts/build.sh "$PRESET"
scripts/install-browser-deps.sh
# A short fuzzing run of the decoders (clang, ASan+UBSan); long runs: scripts/fuzz.sh.
scripts/fuzz.sh --smoke

SANDBOX="$(mktemp -d /tmp/kernwell-ci-XXXXXX)"
trap 'rm -rf "$SANDBOX"' EXIT
mkdir -p "$SANDBOX/home" "$SANDBOX/runtime"
chmod 700 "$SANDBOX/runtime"
export HOME="$SANDBOX/home"
export XDG_DATA_HOME="$SANDBOX/home/.local/share"
export XDG_CONFIG_HOME="$SANDBOX/home/.config"
export XDG_CACHE_HOME="$SANDBOX/home/.cache"
export XDG_RUNTIME_DIR="$SANDBOX/runtime"

# The keyring's password is read from stdin: an empty stdin creates no login
# keyring at all (and every store then fails), an empty line creates one with
# an empty password.
exec dbus-run-session -- sh -c '
    printf "\n" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    ctest --preset "$0" --parallel 2 "$@"
' "$PRESET" "$@"
