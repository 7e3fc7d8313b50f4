#!/usr/bin/env bash
# Runs every test program under valgrind's memcheck (installing what is missing): fails on
# any memory error and on any block definitely lost. Known blocks of the libraries under
# Qt are suppressed in tests/valgrind.supp, each with the reason.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test" # the test command's own build

"$root/tools/deps.sh" build fonts memcheck
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM6200_WERROR=ON >/dev/null
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false"
failed=()
for test in $(find "$build/tests" -type f -executable -name 'tst_*' | sort); do
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
