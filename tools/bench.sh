#!/usr/bin/env bash
# Builds with optimisation (installing what is missing) and runs the benchmarks, or the
# soak: many acquisitions against qm6200-sim in one run of the program, which fails on any
# wrong cycle, on memory growth or on a descriptor left open.
#   tools/bench.sh                    the receive benchmark (throughput, offscreen), then the
#                                     line rate against the floor, on a virtual X server as
#                                     an operator's desktop draws (about three minutes),
#                                     then qm6200-acquire's CPU per received character and
#                                     peak memory, and the history's; then a watch of 8
#                                     simulated instruments every second for two minutes,
#                                     and the same watch in qm6200-acquire and in the
#                                     desktop's watch window for a minute each; then a
#                                     journal of 10,000 acquisitions synced to a local
#                                     PostgreSQL server, the watch again and the line rate
#                                     with a lab's database set
#   tools/bench.sh --quick            the same with fewer runs of the line rate, in under two
#                                     minutes (CI's figures)
#   tools/bench.sh --soak [cycles]    the soak (default 1000 cycles)
. "$(dirname "$0")/common.sh"

line_rate_options=()
case "${1:-}" in
"" | --quick)
    [ $# -le 1 ] || { echo "bench.sh: the benchmark takes no arguments but --quick" >&2; exit 2; }
    [ "${1:-}" = --quick ] && line_rate_options=(--quick)
    "$root/tools/deps.sh" build bench
    build_preset release receive_bench line_rate acquire_bench history_bench
    "$(built release receive_bench)"
    start_work
    start_display 1280x800
    QT_QPA_PLATFORM=xcb "$(built release line_rate)" "${line_rate_options[@]}"
    "$(built release acquire_bench)"
    "$(built release history_bench)"
    # Minutes: in the full run only.
    if [ "${1:-}" != --quick ]; then
        "$root/tools/deps.sh" postgres
        build_preset release watch_bench watch_window_bench watch_chart_bench sync_bench
        "$(built release watch_bench)" 120
        "$(built release watch_bench)" 120 --lab
        QT_QPA_PLATFORM=xcb "$(built release line_rate)" --quick --lab
        "$(built release watch_window_bench)" 60
        "$(built release watch_chart_bench)"
        "$(built release sync_bench)"
    fi
    ;;
--soak)
    [ $# -le 2 ] || { echo "bench.sh: --soak takes at most a number of cycles" >&2; exit 2; }
    "$root/tools/deps.sh" build
    build_preset release soak
    "$(built release soak)" --cycles "${2:-1000}"
    ;;
*) echo "bench.sh: unknown option '$1' (none, --quick, or --soak [cycles])" >&2; exit 2 ;;
esac
