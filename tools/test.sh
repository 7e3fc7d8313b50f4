#!/usr/bin/env bash
# Builds every test (installing what is missing) and runs them all, without a display.
# Warnings are errors here. As root, the cases root would hide run again as the user nobody
# (the tests labelled as-nobody).
#   tools/test.sh              the ordinary build (preset debug, in build/debug)
#   tools/test.sh --sanitize   a separate build with AddressSanitizer and UndefinedBehaviorSanitizer
#                              (preset sanitize, in build/sanitize)
#   tools/test.sh --qt-serial  a separate build whose programs use the serial backend over Qt's
#                              serial port: the programs and their serial and program tests
#                              alone (preset qtserial, in build/qtserial)
. "$(dirname "$0")/common.sh"

case "${1:-}" in
"") preset=debug ;;
--sanitize) preset=sanitize ;;
--qt-serial) preset=qtserial ;;
*) echo "test.sh: unknown option '$1' (none, --sanitize or --qt-serial)" >&2; exit 2 ;;
esac

# The window tests measure captions in the fonts the program uses. The tests of the lab's
# server start servers of their own, in the ordinary build alone (label postgres).
sets=(build fonts)
[ "$preset" = debug ] && sets+=(postgres)
"$root/tools/deps.sh" "${sets[@]}"
build_preset "$preset"
# The tests take their environment from their properties (tests/CMakeLists.txt); the test
# preset chooses which run.
(cd "$root" && ctest --preset "$preset" -j "$(nproc)")
