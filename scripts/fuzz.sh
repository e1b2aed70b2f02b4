#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) into build/fuzz and runs
# each from its seed corpus in fuzz/corpus/<target>/.
#   scripts/fuzz.sh [SECONDS]   each target for SECONDS seconds (default 60)
#   scripts/fuzz.sh --smoke     each target for about 5 seconds
# New inputs go to build/fuzz/corpus/<target>/; crash inputs to build/fuzz/.
# Exits non-zero on the first finding.
set -eu
cd "$(dirname "$0")/.."
DURATION=60
case "${1:-}" in
--smoke) DURATION=5 ;;
"") ;;
*) DURATION="$1" ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target kernwell_fuzzers --parallel "${JOBS:-2}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
for target in fuzz_SyncMessage fuzz_QueryResult fuzz_RequestBody fuzz_SignInCallback; do
    corpus="build/fuzz/corpus/$target"
    mkdir -p "$corpus"
    case "$target" in
    fuzz_RequestBody) dict="" ;;
    fuzz_SignInCallback) dict="-dict=fuzz/url.dict" ;;
    *) dict="-dict=fuzz/json.dict" ;;
    esac
    echo "== $target: ${DURATION} s"
    "build/fuzz/fuzz/$target" -max_total_time="$DURATION" -print_final_stats=1 -artifact_prefix=build/fuzz/ \
        $dict "$corpus" "fuzz/corpus/$target"
done
