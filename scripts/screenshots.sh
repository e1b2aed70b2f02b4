#!/bin/sh
# Renders every surface of the interface in each of its states (tray icons,
# menu-bar popup, account panel, the Kernwell window of desktops without a
# tray, main window pages) to PNG files for review,
# on a virtual X server with the real xcb platform: <build dir>/screenshots/.
# Usage: scripts/screenshots.sh [build dir]   (default: build/screenshots)
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build/screenshots}"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$BUILD" --target kernwell-screenshots -j2

rm -rf "$BUILD/screenshots"
# The program gives itself a private HOME and XDG folders.
xvfb-run -a -s "-screen 0 1920x1080x24" env QT_QPA_PLATFORM=xcb "$BUILD/tests/kernwell-screenshots" "$BUILD/screenshots"
echo "Screenshots in $BUILD/screenshots:"
ls -1 "$BUILD/screenshots"
