#!/usr/bin/env bash
# Runs every test program under valgrind's memcheck (installing what is missing): fails on
# any memory error and on any block definitely lost. Known blocks of the libraries under
# Qt are suppressed in tests/valgrind.supp, each with the reason.
. "$(dirname "$0")/common.sh"
build="$root/build/debug" # the test command's own build (preset debug)

"$root/tools/deps.sh" build fonts memcheck
build_preset debug

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false"
# Qt compiles a regular expression to machine code once it has been used often enough (the
# save dialog's file-type filters over a folder's names, say); memcheck cannot follow such
# code and reports its reads as uninitialised. Interpreted, the same matching is checked.
export QT_ENABLE_REGEXP_JIT=0
failed=()
# Every test program, wherever in the build folder the CMake files put it.
for test in $(find "$build" -type f -executable -name 'tst_*' -not -path '*/CMakeFiles/*' | sort); do
    name=$(basename "$test")
    if valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
        --errors-for-leak-kinds=definite --suppressions="$root/tests/valgrind.supp" \
        --log-file="$build/memcheck-$name.log" "$test" >"$build/memcheck-$name.out" 2>&1; then
        echo "memcheck: $name clean"
    else
        echo "memcheck: $name FAILED (see $build/memcheck-$name.log and .out)"
        cat "$build/memcheck-$name.log"
        failed+=("$name")
    fi
done
[ ${#failed[@]} -eq 0 ] || { echo "memcheck: ${#failed[@]} failed: ${failed[*]}" >&2; exit 1; }
