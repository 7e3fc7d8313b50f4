#!/usr/bin/env bash
# Reads the real program through the Linux accessibility bus (AT-SPI), as a screen reader
# does: on a virtual X server, in a D-Bus session of its own, against qm6200-sim, with
# tools/a11y/check.py (names of the controls, the port chosen and "Acquire Present Value"
# pressed by their accessible actions, the status text read back). Needs a display of its own,
# so it is not part of the test command.
#   tools/a11y-check.sh [PRESET]     the build to check (release unless named)
. "$(dirname "$0")/common.sh"
preset=${1:-release}

"$root/tools/deps.sh" build run a11y
build_preset "$preset" qm6200-datalink qm6200-sim >/dev/null
program=$(built "$preset" qm6200-datalink)
sim_program=$(built "$preset" qm6200-sim)

start_virtual_session 1280x800
start_simulator "$sim_program" --seed 7

# Debian's Python, which has the python3-pyatspi module (not another python3 first on PATH).
dbus-run-session -- /usr/bin/python3 "$root/tools/a11y/check.py" "$program" "$device"
