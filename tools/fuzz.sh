#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer and the sanitizers (installing what is
# missing) and runs them side by side for a while, starting from the committed seeds. Fails
# on any finding; the input that caused it is left in build/fuzz/ (preset fuzz).
#   tools/fuzz.sh [seconds, default 60]
. "$(dirname "$0")/common.sh"
seconds=${1:-60}
build="$root/build/fuzz"

"$root/tools/deps.sh" build fuzz
build_preset fuzz receive_fuzz field_fuzz

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false"
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0"
# One target: its run, then what it printed that says how it went.
fuzz() {
    local target=$1 name=${1%_fuzz} corpus="$build/corpus-$1"
    rm -f "$build/$target-"*
    mkdir -p "$corpus"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
        -artifact_prefix="$build/$target-")
    # Qt fills caches as inputs come (fonts, layouts): growth between two inputs is no leak.
    # Leaks are looked for at the end of the run, and by the memory checks of the tests.
    [ "$target" = receive_fuzz ] && options+=(-detect_leaks=0)
    "$(built fuzz "$target")" "${options[@]}" "$corpus" "$root/tests/fuzz/corpus/$name" \
        >"$build/$target.log" 2>&1 || true
    echo "== $target for ${seconds}s"
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|invariant|.*reads back|.*not finite|.*shown as nothing)' \
        "$build/$target.log" || true
}
# Side by side, a core each.
fuzz receive_fuzz &
receive=$!
fuzz field_fuzz
wait "$receive"
failed=0
for target in receive_fuzz field_fuzz; do
    if ls "$build/$target-"* >/dev/null 2>&1; then
        echo "fuzz.sh: $target found a problem; the input is in $build/ (and its output in $build/$target.log)" >&2
        failed=1
    fi
done
exit "$failed"
