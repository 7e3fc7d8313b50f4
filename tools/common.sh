# Sourced by the scripts in tools/: the project's root, building with one of the presets of
# CMakePresets.json (every build folder is build/PRESET), finding what a build made, and
# saying which command failed when a script stops on an error.
set -eEuo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
script=$(basename "$0")
# Without this a script stopped by set -e ends silently, or with only a compiler's or
# tool's own output, which may not say which step it was. Subshells and command
# substitutions inherit the trap (-E): only the script's own shell reports.
trap 'status=$?; [ "$BASH_SUBSHELL" -ne 0 ] ||
    echo "$script: failed (exit status $status): $BASH_COMMAND" >&2' ERR

# Configures build/PRESET and builds it: the targets given, or the build preset's own.
build_preset() {
    local preset=$1
    shift
    local targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    # The presets are read from the current folder.
    (cd "$root" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" "${targets[@]}")
}

# The path of the program NAME that build/PRESET made, wherever the CMake files put it.
built() {
    local preset=$1 name=$2 path
    path=$(find "$root/build/$preset" -type f -perm -u+x -name "$name" -not -path '*/CMakeFiles/*' \
        -print -quit)
    if [ -z "$path" ]; then
        echo "$script: build/$preset has no program $name" >&2
        return 1
    fi
    echo "$path"
}

# For the scripts that run the real program on a virtual X server (screenshots, the
# accessibility check): a work folder, removed at the end with every process listed in
# `pids`; a home and XDG folders of their own in it, since the program journals its
# acquisitions and remembers its port (nothing of the user's is read or written); an X server
# of SIZE (WIDTHxHEIGHT) on a free display, as DISPLAY.
start_virtual_session() {
    local size=$1
    work=$(mktemp -d)
    pids=()
    trap stop_virtual_session EXIT
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
        XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state \
        XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$HOME"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    # The X server picks a display no other server uses and says which.
    Xvfb -displayfd 3 -screen 0 "${size}x24" -dpi 96 -nolisten tcp 3>"$work/display" \
        >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "$script: the X server did not start" >&2; return 1; }
    export DISPLAY=:$(head -n 1 "$work/display")
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}
stop_virtual_session() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# Starts qm6200-sim (PROGRAM, then its options) in the background and sets `device` to its
# pseudo-terminal.
start_simulator() {
    "$@" >"$work/sim.out" &
    pids+=($!)
    for _ in $(seq 50); do grep -q '^device ' "$work/sim.out" && break; sleep 0.1; done
    device=$(sed -n 's/^device //p' "$work/sim.out")
    [ -n "$device" ] || { echo "$script: the simulator did not start" >&2; return 1; }
}
