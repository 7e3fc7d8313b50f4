#!/usr/bin/env bash
# Builds with optimisation (installing what is missing) and runs the benchmarks, or the
# soak: many acquisitions against qm6200-sim in one run of the program, which fails on any
# wrong cycle, on memory growth or on a descriptor left open.
#   tools/bench.sh                    the receive benchmark (throughput, offscreen), then the
#                                     line rate against the floor, on a virtual X server as
#                                     an operator's desktop draws (about three minutes),
#                                     then qm6200-acquire's CPU per received character and
#                                     peak memory
#   tools/bench.sh --soak [cycles]    the soak (default 1000 cycles)
. "$(dirname "$0")/common.sh"

case "${1:-}" in
"")
    [ $# -le 1 ] || { echo "bench.sh: the benchmark takes no arguments" >&2; exit 2; }
    target=receive_bench
    arguments=()
    "$root/tools/deps.sh" build bench
    build_preset release line_rate acquire_bench history_bench
    ;;
--soak)
    [ $# -le 2 ] || { echo "bench.sh: --soak takes at most a number of cycles" >&2; exit 2; }
    target=soak
    arguments=(--cycles "${2:-1000}")
    ;;
*) echo "bench.sh: unknown option '$1' (none, or --soak [cycles])" >&2; exit 2 ;;
esac

"$root/tools/deps.sh" build
build_preset release "$target"
program=$(built release "$target")
"$program" "${arguments[@]}"
if [ "$target" = receive_bench ]; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
        "$(built release line_rate)"
    "$(built release acquire_bench)"
    "$(built release history_bench)"
fi
