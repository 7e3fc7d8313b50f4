#!/usr/bin/env bash
# Builds every test (installing what is missing) and runs them all, without a display.
# Warnings are errors here.
#   tools/test.sh              the ordinary build (preset debug, in build/debug)
#   tools/test.sh --sanitize   a separate build with AddressSanitizer and UndefinedBehaviorSanitizer
#                              (preset sanitize, in build/sanitize)
#   tools/test.sh --qt-serial  a separate build whose programs use the serial backend over Qt's
#                              serial port (preset qtserial, in build/qtserial)
. "$(dirname "$0")/common.sh"

case "${1:-}" in
"") preset=debug ;;
--sanitize) preset=sanitize ;;
--qt-serial) preset=qtserial ;;
*) echo "test.sh: unknown option '$1' (none, --sanitize or --qt-serial)" >&2; exit 2 ;;
esac

# The window tests measure captions in the fonts the program uses.
"$root/tools/deps.sh" build fonts
build_preset "$preset"
# The test preset gives the tests their environment (offscreen platform, sanitizer options).
(cd "$root" && ctest --preset "$preset" -j "$(nproc)")
