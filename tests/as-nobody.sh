#!/bin/sh
# Runs a test program as the user nobody, for ctest (tests/CMakeLists.txt, qm6200_as_nobody):
#   as-nobody.sh PROGRAM [TEST FUNCTIONS...]
# The program, and the simulator, qm6200-acquire and the journal's other writer that the
# environment names, are copied into a folder of their own that nobody may read, with a home
# of nobody's; the environment is pointed at the copies. Not as root, it is skipped (77): the
# test itself ran as an ordinary user.
set -eu
[ "$(id -u)" -eq 0 ] || exit 77
program=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$program" "$work/"
for variable in QM6200_SIM QM6200_ACQUIRE QM6200_JOURNAL_WRITER; do
    eval "path=\${$variable:-}"
    if [ -n "$path" ] && [ -x "$path" ]; then
        cp "$path" "$work/"
        export "$variable=$work/$(basename "$path")"
    fi
done
mkdir "$work/home"
chown 65534:65534 "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache"
export XDG_RUNTIME_DIR="$work/home/run"
cd "$work"
setpriv --reuid=65534 --regid=65534 --clear-groups "./$(basename "$program")" "$@"
