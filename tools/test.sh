#!/usr/bin/env bash
# Builds every test (installing what is missing) and runs them all, without a display.
# Warnings are errors here.
#   tools/test.sh              the ordinary build
#   tools/test.sh --sanitize   a separate build with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

dir="$root/build/test"
options=(-DCMAKE_BUILD_TYPE=Debug -DQM6200_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
    dir="$root/build/sanitize"
    options+=(-DQM6200_SANITIZE=ON)
    export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
fi

# The window tests measure captions in the fonts the program uses.
"$root/tools/deps.sh" build fonts
cmake -S "$root" -B "$dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
