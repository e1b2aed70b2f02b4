#!/bin/sh
# Profiles one message of 500 fonts: bench_sync drives kernwell run under
# callgrind, whose counters cover the message alone (zeroed before, dumped
# after). The profile lands in build/release/callgrind.sync.*; read it with
# callgrind_annotate --inclusive=yes. Build the release preset first.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"
wrapper="$(mktemp)"
trap 'rm -f "$wrapper"' EXIT
cat >"$wrapper" <<WRAPPER
#!/bin/sh
exec valgrind --tool=callgrind --separate-threads=no \
    --callgrind-out-file="$root/build/release/callgrind.sync.%p" "$root/build/release/bin/kernwell" "\$@"
WRAPPER
chmod +x "$wrapper"
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
tests/support/private-session.sh build/release/bench/bench_sync --only profile --kernwell "$wrapper"
