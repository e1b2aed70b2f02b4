#!/bin/sh
# Builds the Debian packages from a build tree with CPack, checks their
# metadata and contents, runs lintian, unpacks them into a temporary root and
# runs the unpacked programs there: `kernwell --version`, and the installed
# end-to-end sync (tst_Application's endToEnd, pointed at the unpacked /usr).
# Exits 77 (skipped) where the Debian packaging tools are missing. Runs inside
# tests/support/private-session.sh, like every test program.
# Usage: private-session.sh tests/package/deb-package.sh <build dir> <tst_Application>
set -eu
BUILD="$(cd "${1:?usage: deb-package.sh <build dir> <tst_Application>}" && pwd)"
APPLICATION_TEST="${2:?usage: deb-package.sh <build dir> <tst_Application>}"

for tool in cpack dpkg-deb dpkg-shlibdeps dpkg-architecture file; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is missing (scripts/install-deps.sh installs it): skipped"
        exit 77
    fi
done

WORK="$(mktemp -d /tmp/kernwell-deb-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect_line <file> <extended regex>: some line of the file matches.
expect_line() {
    grep -Eq "$2" "$1" || fail "$(basename "$1"): no line matches /$2/"
}

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
client="$WORK/kernwell_${version}_${arch}.deb"
service="$WORK/kernwell-localservice_${version}_${arch}.deb"

if ! cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK" >"$WORK/cpack.log" 2>&1; then
    cat "$WORK/cpack.log" >&2
    exit 1
fi
for deb in "$client" "$service"; do
    [ -f "$deb" ] || { echo "cpack made no $(basename "$deb"):" >&2; ls "$WORK" >&2; exit 1; }
done

# Metadata: names, version, and library dependencies found by dpkg-shlibdeps.
dpkg-deb --field "$client" >"$WORK/client.control"
dpkg-deb --field "$service" >"$WORK/service.control"
expect_line "$WORK/client.control" "^Package: kernwell$"
expect_line "$WORK/client.control" "^Version: ${version}$"
expect_line "$WORK/client.control" "^Architecture: ${arch}$"
expect_line "$WORK/client.control" "^Depends: .*libqt6widgets6 .*"
expect_line "$WORK/client.control" "^Depends: .*libsecret-1-0 .*"
expect_line "$WORK/client.control" "^Depends: .*libplist3 .*"
expect_line "$WORK/client.control" "^Depends: .*xdg-utils"
expect_line "$WORK/service.control" "^Package: kernwell-localservice$"
expect_line "$WORK/service.control" "^Depends: .*libqt6core6 .*"
if grep -q "libqt6widgets6\|libsecret" "$WORK/service.control"; then
    fail "kernwell-localservice depends on the client's libraries"
fi
dpkg-deb --info "$client" | grep -q "^ *postinst\|^ *postrm\|^ *preinst\|^ *prerm" \
    && fail "kernwell has maintainer scripts; the desktop and icon caches are updated by triggers"

# Contents: the client alone in one package, the service alone in the other,
# everything owned by root.
dpkg-deb --contents "$client" >"$WORK/client.contents"
dpkg-deb --contents "$service" >"$WORK/service.contents"
for path in usr/bin/kernwell usr/share/kernwell/Info.plist usr/share/kernwell/translations/kernwell_de.qm \
    usr/share/applications/org.kernwell.Kernwell.desktop \
    usr/share/dbus-1/services/org.kernwell.Kernwell.service \
    usr/share/metainfo/org.kernwell.Kernwell.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.kernwell.Kernwell.svg \
    usr/share/doc/kernwell/copyright usr/share/doc/kernwell/changelog.gz usr/share/man/man1/kernwell.1.gz; do
    expect_line "$WORK/client.contents" " \./$path\$"
done
for size in 16 22 24 32 48 64 128 256; do
    expect_line "$WORK/client.contents" " \./usr/share/icons/hicolor/${size}x${size}/apps/org\.kernwell\.Kernwell\.png\$"
done
for path in usr/bin/kernwell-localservice usr/share/doc/kernwell-localservice/copyright usr/share/man/man1/kernwell-localservice.1.gz; do
    expect_line "$WORK/service.contents" " \./$path\$"
done
grep -q "kernwell-localservice" "$WORK/client.contents" && fail "the kernwell package holds the local service"
grep -q "bin/kernwell\$" "$WORK/service.contents" && fail "the kernwell-localservice package holds the client"
awk '$2 != "root/root" { print "FAIL: not owned by root: " $0; bad = 1 } END { exit bad }' \
    "$WORK/client.contents" "$WORK/service.contents" >&2 || failures=$((failures + 1))

if command -v lintian >/dev/null 2>&1; then
    # The kept warnings and why: README, "Install".
    lintian --fail-on error --tag-display-limit 0 "$client" "$service" >"$WORK/lintian.log" 2>&1 \
        || { cat "$WORK/lintian.log" >&2; fail "lintian reports errors"; }
else
    echo "lintian is missing (scripts/install-deps.sh installs it): not run"
fi

# The unpacked files.
ROOT="$WORK/root"
dpkg-deb -x "$client" "$ROOT"
dpkg-deb -x "$service" "$ROOT"
desktop="$ROOT/usr/share/applications/org.kernwell.Kernwell.desktop"
expect_line "$desktop" "^Exec=/usr/bin/kernwell %u$"
expect_line "$desktop" "^MimeType=(.*;)?x-scheme-handler/kernwell;"
expect_line "$desktop" "^Icon=org\.kernwell\.Kernwell$"
expect_line "$ROOT/usr/share/dbus-1/services/org.kernwell.Kernwell.service" "^Exec=/usr/bin/kernwell$"
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
fi
cmp -s "$ROOT/usr/share/kernwell/Info.plist" "$BUILD/share/kernwell/Info.plist" \
    || fail "the packaged Info.plist is not the one this build configured"
for size in 16 22 24 32 48 64 128 256; do
    png="$ROOT/usr/share/icons/hicolor/${size}x${size}/apps/org.kernwell.Kernwell.png"
    file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "$(file -b "$png"): not a ${size}x${size} PNG"
done
copyright="$ROOT/usr/share/doc/kernwell/copyright"
expect_line "$copyright" "^Format: https://www\.debian\.org/doc/packaging-manuals/copyright-format/1\.0/$"
expect_line "$copyright" "^Files: resources/typefaces/\*$"
expect_line "$copyright" "^License: OFL-1\.1$"
expect_line "$copyright" "^ SIL OPEN FONT LICENSE Version 1\.1"
# Every line of a DEP-5 file is a field, a continuation line or a paragraph break.
grep -Evn '^([A-Za-z-]+:( .*)?| .+|)$' "$copyright" >&2 && fail "copyright: lines that are neither field nor continuation"
file -b "$ROOT/usr/bin/kernwell" | grep -q "stripped" && ! file -b "$ROOT/usr/bin/kernwell" | grep -q "not stripped" \
    || fail "usr/bin/kernwell is not stripped"

printed="$("$ROOT/usr/bin/kernwell" --version)" || fail "the unpacked kernwell --version failed"
[ "$printed" = "kernwell $version" ] || fail "the unpacked kernwell --version printed \"$printed\""
"$ROOT/usr/bin/kernwell-localservice" --help >/dev/null || fail "the unpacked kernwell-localservice --help failed"

# The journey from the unpacked package: sign-in callback, pushed style,
# fonts registered and unregistered at quit.
KERNWELL_INSTALLED_PREFIX="$ROOT/usr" "$APPLICATION_TEST" endToEnd \
    || fail "the installed end-to-end sync from the unpacked package failed"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed checks; cpack output:" >&2
    tail -n 20 "$WORK/cpack.log" >&2
    exit 1
fi
echo "packages $(basename "$client") and $(basename "$service") checked"
