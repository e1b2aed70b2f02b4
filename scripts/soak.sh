#!/bin/sh
# The long run (not part of CI): the built kernwell, signed in to the local
# font service in a sandbox (temporary HOME and XDG folders, a private D-Bus
# session, a throwaway keyring), receives thousands of sync messages one at a
# time and reconnects hundreds of times. Prints private memory, fds, threads
# and push-to-effect time per tenth of the run; none of them should grow.
#
# Usage: scripts/soak.sh [--no-build] [--messages N] [--reconnect-every K] [--kernwell PATH]
#   --no-build   use the existing release build
#   --kernwell   run an installed kernwell instead of the build tree's
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--no-build" ]; then
    shift
else
    scripts/build.sh release
fi
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
exec tests/support/private-session.sh build/release/bench/soak_sync "$@"
