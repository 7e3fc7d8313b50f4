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
