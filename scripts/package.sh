#!/bin/sh
# Builds the Debian packages from a release build and checks them with lintian:
#   kernwell_<version>_<arch>.deb               the tray client
#   kernwell-localservice_<version>_<arch>.deb  the local font service
# Usage: scripts/package.sh [--output DIR] [-DNAME=VALUE ...]
#   --output DIR   where the packages go (default: build/packages)
#   -DNAME=VALUE   build options, e.g. the font service the client talks to:
#                  -DKERNWELL_SERVICE_URL=https://fonts.example.com (README, "Install")
# Without options the client points at the local font service, 127.0.0.1:47800.
set -eu
cd "$(dirname "$0")/.."
OUTPUT=build/packages
BUILD=build/package

if [ "${1:-}" = "--output" ]; then
    OUTPUT="${2:?--output needs a folder}"
    shift 2
fi
for option in "$@"; do
    case "$option" in
        -D?*=*) ;;
        *) echo "package.sh: \"$option\" is not a build option (-DNAME=VALUE); see the README's Install section" >&2
           exit 2 ;;
    esac
done

scripts/install-deps.sh
# A fresh cache, so that options left out now fall back to their defaults
# instead of what an earlier run set; the build itself is incremental.
cmake --preset release -B "$BUILD" --fresh -DKERNWELL_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$BUILD"

mkdir -p "$OUTPUT"
OUTPUT="$(cd "$OUTPUT" && pwd)"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
STAGING="$(mktemp -d /tmp/kernwell-package-XXXXXX)"
trap 'rm -rf "$STAGING"' EXIT
cpack --config "$BUILD/CPackConfig.cmake" -B "$STAGING" >"$STAGING/cpack.log" 2>&1 || {
    cat "$STAGING/cpack.log" >&2
    exit 1
}
packages=""
for name in kernwell kernwell-localservice; do
    deb="${name}_${version}_${arch}.deb"
    mv "$STAGING/$deb" "$OUTPUT/$deb"
    packages="$packages $OUTPUT/$deb"
done

# Errors fail the build; the warnings kept are listed in the README.
# shellcheck disable=SC2086
lintian --fail-on error $packages
for deb in $packages; do
    echo "$deb"
done
