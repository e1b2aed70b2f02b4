#!/bin/sh
# The bundle's configuration as build options: configures a scratch tree (no
# build) for one service, then the same tree for another, and checks the
# Info.plist each time; a malformed address stops the configure with a message.
# Usage: tests/package/service-options.sh <source dir>
set -eu
SOURCE="$(cd "${1:?usage: service-options.sh <source dir>}" && pwd)"
WORK="$(mktemp -d /tmp/kernwell-options-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
configure() {
    cmake -S "$SOURCE" -B "$WORK/tree" -G Ninja -DKERNWELL_BUILD_TESTS=OFF "$@" >"$WORK/configure.log" 2>&1
}
# expect_key <key> <value>: the configured Info.plist holds that string.
expect_key() {
    actual="$(sed -n "/<key>$1<\/key>/{n;s/^[[:space:]]*<string>\(.*\)<\/string>/\1/p;}" "$WORK/tree/share/kernwell/Info.plist")"
    [ "$actual" = "$2" ] || fail "$1 is \"$actual\", not \"$2\""
}

configure -DKERNWELL_SERVICE_URL=https://fonts.example.com/ -DKERNWELL_SENTRY_DSN=https://key@errors.example.com/7 \
    || { cat "$WORK/configure.log" >&2; exit 1; }
expect_key AuthorizationURL https://fonts.example.com/signin
expect_key LibraryURL https://fonts.example.com/library
expect_key GlyphdeckURL https://fonts.example.com
expect_key SUFeedURL https://fonts.example.com/appcast.xml
expect_key SentryDSN https://key@errors.example.com/7

# The same tree for another service: every place moves with it, a place set
# on its own stays where it was set, and an empty DSN sends no reports.
configure -DKERNWELL_SERVICE_URL=https://type.example.net -DKERNWELL_LIBRARY_URL='https://app.example.net/library?a=1&b=2' \
    -DKERNWELL_SENTRY_DSN= || { cat "$WORK/configure.log" >&2; exit 1; }
expect_key AuthorizationURL https://type.example.net/signin
expect_key BrowseFontsURL https://type.example.net/browse
expect_key SupportURL https://type.example.net/support
expect_key GlyphdeckURL https://type.example.net
expect_key SUFeedURL https://type.example.net/appcast.xml
expect_key LibraryURL 'https://app.example.net/library?a=1&amp;b=2'
expect_key SentryDSN ''

if configure -DKERNWELL_SERVICE_URL=fonts.example.com; then
    fail "a service address without http:// or https:// was accepted"
elif ! tr -s ' \n' '  ' <"$WORK/configure.log" \
    | grep -q 'KERNWELL_SERVICE_URL must be an http:// or https:// address, not "fonts.example.com"'; then
    cat "$WORK/configure.log" >&2
    fail "no clear message for a malformed service address"
fi

[ "$failures" -eq 0 ]
