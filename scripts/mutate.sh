#!/bin/bash
# Changes one line of the source on purpose and tells whether a test notices.
#
# Usage: scripts/mutate.sh FILE:LINE TEST[:FUNCTION[:ROW]] [SED]
#
#   FILE:LINE  the line to change, FILE relative to the source tree or absolute.
#   TEST       the test as ctest names it (api/tst_NetworkSession) or its
#              program (tst_NetworkSession). After a colon, a QtTest function
#              and, after another, one of its rows run alone:
#              tst_NetworkSession:cutBodyIsATransportError:without the last chunk
#   SED        a sed command applied to that line only ('s/ < / <= /',
#              's/true/false/', 'd'); without it the line is commented out:
#              "// " before it in C and C++ sources, "# " in shell, CMake and
#              Python files.
#
# Examples:
#   scripts/mutate.sh localservice/ServiceOptions.cpp:71 localservice/tst_Accounts
#   scripts/mutate.sh localservice/ServiceOptions.cpp:37 tst_Accounts:commandLine 's/value < minimum || //'
#   scripts/mutate.sh localservice/ServiceOptions.cpp:37 'tst_Accounts:commandLine:port too big' 's/ || value > maximum//'
#
# Builds the test's program in the release build (BUILD_DIR, default
# build/release), runs the test through ctest (with a function, the program
# through tests/support/private-session.sh with that argument, since ctest
# passes none), puts the file back whatever happens and builds the program
# again, so that the build tree is left as the source is. Run the test once
# unchanged first: a test that fails anyway says nothing about the line.
#
# Exit status: 0 the test failed (the mutation is killed), 1 the test passed
# (the mutation survived), 2 the mutation could not be applied, built or run.
# The last line on stdout says which ("killed: …", "survived: …",
# "could not: …"); stderr shows the changed line and the first failures.
#
# The build lock (/tmp/kernwell-build.lock, which every build of this tree
# takes) is held from the change until the file is back and rebuilt, the
# test's run included, so that no other build of the tree compiles the
# changed line; other builds wait meanwhile.
set -eu

usage() {
    sed -n '4,32s/^# \{0,1\}//p' "$0" >&2
    exit 2
}
[ $# -eq 2 ] || [ $# -eq 3 ] || usage

SOURCE_DIR="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$SOURCE_DIR/build/release}"
LOCK="${KERNWELL_BUILD_LOCK:-/tmp/kernwell-build.lock}"
LOCATION="$1"
TEST_SPEC="$2"
SED_COMMAND="${3-}"
FILE="${LOCATION%:*}"
LINE="${LOCATION##*:}"
WHERE="$LOCATION"
WORK=""
mutated=""
verdict=""
message=""

say() { printf 'mutate: %s\n' "$*" >&2; }
# The verdict: the exit status and the line printed last.
conclude() {
    verdict="$1"
    message="$2"
}
fail() {
    say "$1"
    conclude 2 "could not: ${2:-$1}"
    exit 2
}

# Runs a command in a process group of its own, which the EXIT trap ends
# if a signal stops this script first; without the lock's descriptor, so
# that nothing it leaves running holds the lock.
child=""
run() {
    setsid "$@" 3>&- 4>&- 9>&- &
    child=$!
    wait "$child"
}

build() {
    run cmake --build "$BUILD_DIR" --target "$PROGRAM" >"$WORK/build.log" 2>&1
}

# Puts the original back (with a new modification time, so that the next
# build compiles it again) unless someone changed the file meanwhile; then
# only the changed line goes back, if it is still where it was.
restore() {
    if cmp -s "$FILE" "$WORK/mutated"; then
        cat "$WORK/original" >"$FILE"
    elif [ "$(wc -l <"$WORK/original")" -eq "$(wc -l <"$WORK/mutated")" ] \
        && [ "$(sed -n "${LINE}p" "$FILE")" = "$(sed -n "${LINE}p" "$WORK/mutated")" ]; then
        say "$FILE changed while it was mutated: only line $LINE is put back"
        awk -v n="$LINE" -v text="$(sed -n "${LINE}p" "$WORK/original")" 'NR == n { print text; next } { print }' "$FILE" >"$WORK/merged"
        cat "$WORK/merged" >"$FILE"
    else
        say "$FILE changed while it was mutated and line $LINE moved: put it back by hand from $WORK/original"
        return 1
    fi
}

finish() {
    status=$?
    trap - EXIT
    trap '' INT TERM HUP
    exec 1>&3 2>&4
    if [ -n "$child" ] && kill -0 "$child" 2>/dev/null; then
        kill -TERM -- "-$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    keep=""
    if [ -n "$mutated" ]; then
        if ! restore; then
            keep=1
        elif ! build; then
            say "the restored source does not build either: see $WORK/build.log"
            keep=1
        fi
    fi
    if [ -n "$WORK" ] && [ -z "$keep" ]; then
        rm -rf "$WORK"
    fi
    if [ -z "$verdict" ]; then
        conclude 2 "could not: stopped (status $status) with $WHERE mutated"
    fi
    printf '%s\n' "$message"
    exit "$verdict"
}
# The trap may run while a command's output goes to a log: it writes to
# these copies of the script's own output and errors.
exec 3>&1 4>&2
trap finish EXIT
trap 'conclude 2 "could not: interrupted with $WHERE mutated"; exit 2' INT TERM HUP

case "$LINE" in '' | *[!0-9]*) fail "FILE:LINE needed, not \"$LOCATION\"" ;; esac
case "$FILE" in /*) ;; *) FILE="$SOURCE_DIR/$FILE" ;; esac
WHERE="${FILE#"$SOURCE_DIR"/}:$LINE"
[ -f "$FILE" ] || fail "no file $FILE"
COUNT="$(wc -l <"$FILE")"
if [ "$LINE" -lt 1 ] || [ "$LINE" -gt "$COUNT" ]; then
    fail "$FILE has $COUNT lines, no line $LINE"
fi
[ -f "$BUILD_DIR/CTestTestfile.cmake" ] || fail "no configured build in $BUILD_DIR (cmake --preset release)"

# TEST[:FUNCTION[:ROW]]: what follows the first colon is QtTest's argument.
TEST="${TEST_SPEC%%:*}"
FILTER=""
[ "$TEST" = "$TEST_SPEC" ] || FILTER="${TEST_SPEC#*:}"
TEST_NAME=""
while IFS= read -r name; do
    if [ "$name" = "$TEST" ] || [ "${name##*/}" = "$TEST" ]; then
        TEST_NAME="$name"
    fi
done < <(ctest --test-dir "$BUILD_DIR" -N | sed -n 's/^ *Test *#[0-9]*: //p')
[ -n "$TEST_NAME" ] || fail "ctest knows no test \"$TEST\" in $BUILD_DIR"
PROGRAM="${TEST_NAME##*/}"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/kernwell-mutate-XXXXXX")"
cp "$FILE" "$WORK/original"

# Comment the line out, or apply the sed command to it alone.
if [ -n "$SED_COMMAND" ]; then
    sed "${LINE}{
$SED_COMMAND
}" "$WORK/original" >"$WORK/mutated" 2>"$WORK/sed.log" || fail "the sed command failed: $(cat "$WORK/sed.log")" "the sed command failed"
else
    case "$FILE" in
    *.cpp | *.cc | *.cxx | *.c | *.h | *.hpp | *.js | *.mjs) mark="// " ;;
    *.sh | *.cmake | */CMakeLists.txt | *.py) mark="# " ;;
    *) fail "no comment mark known for ${FILE##*/}: give a sed command" ;;
    esac
    if sed -n "${LINE}p" "$WORK/original" | grep -q '^[[:space:]]*$'; then
        fail "$WHERE is empty: nothing to comment out"
    fi
    sed "${LINE}s|^|$mark|" "$WORK/original" >"$WORK/mutated"
fi
cmp -s "$WORK/original" "$WORK/mutated" && fail "the sed command changes nothing on $WHERE"

# Every build of this tree takes the lock; holding it from here until the
# file is back and rebuilt keeps the change out of every other build.
exec 9>"$LOCK"
flock 9
mutated=1
cat "$WORK/mutated" >"$FILE"
say "$WHERE is now: $(sed -n "${LINE}p" "$FILE" | sed 's/^[[:space:]]*//')"

say "building $PROGRAM"
if ! build; then
    grep -m 5 ': error:' "$WORK/build.log" >&2 || tail -n 10 "$WORK/build.log" >&2
    conclude 2 "could not: $PROGRAM does not build with $WHERE mutated"
    exit 2
fi
if grep -q 'no work to do' "$WORK/build.log"; then
    say "nothing was rebuilt: $PROGRAM is not built from ${FILE##*/} (a file it reads at run time still counts)"
fi

if [ -z "$FILTER" ]; then
    say "running $TEST_NAME"
    result=0
    run ctest --test-dir "$BUILD_DIR" -R "^${TEST_NAME}\$" --no-tests=error -V >"$WORK/test.log" 2>&1 || result=$?
    if grep -q 'No tests were found\|Could not find executable\|\*\*\*Not Run' "$WORK/test.log"; then
        tail -n 10 "$WORK/test.log" >&2
        conclude 2 "could not: ctest did not run $TEST_NAME"
        exit 2
    fi
else
    # The program, its folder and its environment as ctest has them.
    details="$(ctest --test-dir "$BUILD_DIR" -N -V -R "^${TEST_NAME}\$")"
    binary="$(sed -n 's/^[0-9]*: Test command: .*private-session\.sh "\([^"]*\)".*/\1/p' <<<"$details")"
    [ -n "$binary" ] || fail "$TEST_NAME is no QtTest program run through private-session.sh: no function can be chosen"
    directory="$(sed -n 's/^[0-9]*: Working Directory: //p' <<<"$details")"
    environment=()
    while IFS= read -r assignment; do
        [ -z "$assignment" ] || environment+=("$assignment")
    done < <(sed -n '/Environment variables:/,/Test *#/s/^[0-9]*:  \([A-Za-z_][A-Za-z_0-9]*=.*\)/\1/p' <<<"$details")
    say "running $PROGRAM \"$FILTER\""
    result=0
    run env --chdir="${directory:-$BUILD_DIR}" "${environment[@]}" timeout 300 \
        "$SOURCE_DIR/tests/support/private-session.sh" "$binary" "$FILTER" >"$WORK/test.log" 2>&1 || result=$?
    if grep -q '^Unknown test function\|^Unknown testdata for function' "$WORK/test.log"; then
        grep '^Unknown' "$WORK/test.log" >&2
        conclude 2 "could not: $PROGRAM has no function or row \"$FILTER\""
        exit 2
    fi
fi

# ctest -V puts the test's number before each line of its output.
sed -i 's/^[0-9]*: //' "$WORK/test.log"
totals="$(grep -m 1 '^Totals:' "$WORK/test.log" | sed 's/, [0-9]* blacklisted//; s/, [0-9]*ms$//' || true)"
if [ "$result" -ne 0 ]; then
    # The first failures and where they are.
    grep '^FAIL!\|^   Loc:\|^QFATAL\|Received a fatal error\|\*\*\*Timeout\|\*\*\*Exception' "$WORK/test.log" | head -n 8 >&2 || true
    conclude 0 "killed: $TEST_SPEC fails with $WHERE mutated${totals:+ ($totals)}"
else
    conclude 1 "survived: $TEST_SPEC passes with $WHERE mutated${totals:+ ($totals)}"
fi
