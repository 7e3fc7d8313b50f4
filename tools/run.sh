#!/usr/bin/env bash
# Builds the program and the instrument simulator (installing what is missing) and starts
# them together: the simulator plays the instrument on a pseudo-terminal until the program
# ends.
#   tools/run.sh                 the program with the simulator
#   tools/run.sh --no-sim        the program alone, for a real instrument
#   tools/run.sh -- SIM-OPTIONS  options for the simulator (see qm6200-sim --help)
. "$(dirname "$0")/common.sh"

with_sim=1
sim_options=()
while [ $# -gt 0 ]; do
    case "$1" in
    --no-sim) with_sim=0 ;;
    --) shift; sim_options=("$@"); break ;;
    *) echo "run.sh: unknown option '$1' (--no-sim, or -- followed by simulator options)" >&2; exit 2 ;;
    esac
    shift
done

"$root/tools/deps.sh" build run
build_preset release qm6200-datalink qm6200-sim
program=$(built release qm6200-datalink)
sim_program=$(built release qm6200-sim)

if [ "$with_sim" -eq 0 ]; then
    exec "$program"
fi

start_work
start_simulator "$sim_program" "${sim_options[@]}"
# The port list shows the simulator where the session has a runtime folder for it to announce
# itself in (qm6200-sim --help); elsewhere its device is typed.
case "${XDG_RUNTIME_DIR:-}" in
/*) echo "Instrument simulator ready: choose $device — simulated instrument in the port list, then press Determine." ;;
*) echo "Instrument simulator ready: type $device into the port box, then press Determine." ;;
esac
"$program"
