#!/bin/sh
# Every translation is complete: lupdate gathers the texts of today's sources
# into a copy of each resources/translations/kernwell_<language>.ts, and none
# of them may be left without its translation there.
# Usage: complete-translations.sh <source tree> <lupdate>
set -eu
SOURCE="$1"
LUPDATE="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

status=0
for ts in "$SOURCE"/resources/translations/kernwell_*.ts; do
    copy="$WORK/$(basename "$ts")"
    cp "$ts" "$copy"
    "$LUPDATE" -silent -no-obsolete -locations none "$SOURCE/src" -ts "$copy"
    untranslated="$(awk '/<source>/ { source = $0 } /type="unfinished"/ { print source }' "$copy" \
        | sed -e 's/^ *<source>//' -e 's/<\/source>$//')"
    if [ -n "$untranslated" ]; then
        echo "FAIL: $(basename "$ts") lacks translations (cmake --build <tree> --target kernwell_lupdate, then translate):" >&2
        printf '%s\n' "$untranslated" | sed 's/^/  /' >&2
        status=1
    fi
done
exit "$status"
