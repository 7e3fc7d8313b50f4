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

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x800x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$sim_program" --seed 7 >"$work/sim.out" &
pids+=($!)
for _ in $(seq 50); do grep -q '^device ' "$work/sim.out" && break; sleep 0.1; done
device=$(sed -n 's/^device //p' "$work/sim.out")
[ -n "$device" ] || { echo "a11y-check.sh: the simulator did not start" >&2; exit 1; }

# Debian's Python, which has the python3-pyatspi module (not another python3 first on PATH).
dbus-run-session -- /usr/bin/python3 "$root/tools/a11y/check.py" "$program" "$device"
