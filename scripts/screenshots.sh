#!/bin/sh
# Renders every surface of the interface in each of its states (tray icons,
# menu-bar popup, account panel, the Kernwell window of desktops without a
# tray, main window pages) to PNG files for review,
# on a virtual X server with the real xcb platform: <build dir>/screenshots/.
# Usage: scripts/screenshots.sh [build dir]   (default: build/screenshots)
set -eu
cd "$(dirname "$0")/.."
BUILD="${1:-build/screenshots}"
TESTS="tst_MenuBarExtra tst_MenuBarView tst_MenuBarWindow tst_ContentView"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD" --target $TESTS -j2

rm -rf "$BUILD/screenshots"
for test in $TESTS; do
    # Each test gives itself a private HOME and XDG folders.
    xvfb-run -a -s "-screen 0 1920x1080x24" env QT_QPA_PLATFORM=xcb "$BUILD/tests/$test" screenshots
done
echo "Screenshots in $BUILD/screenshots:"
ls -1 "$BUILD/screenshots"
