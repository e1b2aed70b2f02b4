#!/bin/sh
# Brings every Debian package that building, testing and running Kernwell need.
# Idempotent and non-interactive; installs only what is missing.
# Extra package names given as arguments are installed the same way.
# librsvg2-bin renders the PNG icons at build time; qt6-l10n-tools (lupdate,
# lrelease) and qt6-tools-dev (their CMake functions) make the translations;
# dpkg-dev, file and lintian build and check the .deb packages (scripts/package.sh).
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git ccache
qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools
qt6-qpa-plugins libqt6svg6 qt6-httpserver-dev qt6-websockets-dev
qcoro-qt6-dev
libboost1.74-dev libssl-dev libcurl4-openssl-dev
libsecret-1-dev libsecret-tools gnome-keyring dbus dbus-x11
libplist-dev
libfontconfig-dev libfreetype-dev fontconfig fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
xvfb xauth xdg-utils desktop-file-utils appstream
curl ca-certificates imagemagick librsvg2-bin
clang-14 libclang-rt-14-dev
dpkg-dev file lintian
"

missing=""
for p in $PACKAGES "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then
    SUDO="sudo"
fi
echo "Installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
