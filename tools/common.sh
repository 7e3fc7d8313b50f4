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

# A work folder for a script that starts processes: `work`, removed at the end with every
# process listed in `pids` (each script adds what it starts).
start_work() {
    work=$(mktemp -d)
    pids=()
    trap stop_work EXIT
}
stop_work() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# A home and XDG folders of their own in the work folder, since the program journals its
# acquisitions and remembers its port: nothing of the user's is read or written.
use_own_home() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
        XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state \
        XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$HOME"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}

# An X server of SIZE (WIDTHxHEIGHT) on a display no other server uses, as DISPLAY, that only
# holders of its cookie (XAUTHORITY, in the work folder) may use. A display is taken by one
# test of freedom (display_free); a server that ends at once lost it to another one started
# meanwhile, and the next number is tried. Every script that needs a display takes it here.
start_display() {
    local size=$1 number
    export XAUTHORITY=$work/Xauthority
    touch "$XAUTHORITY"
    for number in $(shuf -i 100-999 -n 20); do
        display_free "$number" || continue
        xauth -q add ":$number" . "$(mcookie)"
        # -noreset: otherwise the server starts over when its last client leaves (the probe
        # below), and refuses whoever connects meanwhile, the program now and then.
        Xvfb ":$number" -auth "$XAUTHORITY" -screen 0 "${size}x24" -dpi 96 -nolisten tcp -noreset \
            >"$work/Xvfb.log" 2>&1 &
        pids+=($!)
        export DISPLAY=:$number
        # Ready when a client holding the cookie is served.
        for _ in $(seq 100); do
            xdpyinfo >/dev/null 2>&1 && return 0
            kill -0 "${pids[-1]}" 2>/dev/null || break
            sleep 0.1
        done
        kill "${pids[-1]}" 2>/dev/null || true
    done
    echo "$script: no virtual X server would serve a display; the last one said:" >&2
    cat "$work/Xvfb.log" >&2
    return 1
}
# Whether display NUMBER is free by every sign an X server leaves: its lock file, its socket
# file, and its sockets in this machine's table, which also lists those of servers whose /tmp
# this script cannot see (another mount namespace) and the abstract ones clients try first.
display_free() {
    local number=$1
    [ ! -e "/tmp/.X$number-lock" ] && [ ! -e "/tmp/.X11-unix/X$number" ] \
        && ! grep -q -E "/tmp/\.X11-unix/X$number\$" /proc/net/unix
}

# For the scripts that run the real program on a virtual X server (screenshots, the
# accessibility check): a work folder, a home of its own, a display of SIZE.
start_virtual_session() {
    start_work
    use_own_home
    start_display "$1"
}

# Starts qm6200-sim (PROGRAM, then its options) in the background, in the work folder, and
# sets `device` to its pseudo-terminal. Every script that needs a simulator starts it here.
start_simulator() {
    "$@" >"$work/sim.out" &
    pids+=($!)
    for _ in $(seq 50); do
        grep -q '^device ' "$work/sim.out" && break
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    device=$(sed -n 's/^device //p' "$work/sim.out")
    [ -n "$device" ] || { echo "$script: the simulator did not start" >&2; return 1; }
}
