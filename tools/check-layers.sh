#!/usr/bin/env bash
# Keeps the layers pointing down, judged from the build itself rather than from the text of
# the sources: what each library links (CMake's own graph of the targets), and the headers
# each object file really includes (the compiler's dependency records, as Ninja keeps them).
#   base/             what every layer shares (qm6200_base): itself alone; Qt Core
#   files/            the user's own files, files written whole (qm6200_files): base/
#   protocol/         the instrument's protocol (qm6200_protocol): base/
#   records/          the record logic (qm6200_records): base/
#   ports/            the ports this computer has (qm6200_ports): base/, files/
#   serial/           the serial line (qm6200_serial): base/, files/, ports/
#   serial/qtserial/  the backend over Qt Serial Port: those and serial/
#   process/          the signals that end a program (qm6200_process): base/
#   journal/          the journal (qm6200_journal): base/, files/, protocol/, records/; SQLite
#   line/             a line per port and its exchanges (qm6200_line): all of the above but
#                     serial/qtserial/ and process/
#   watch/            a watch's schedule, times, CSV lines and file (qm6200_watch): all of the
#                     above but serial/qtserial/
#   lab/              the lab's database (qm6200_lab): all of the above but serial/qtserial/;
#                     libpq
#   ui/               what line/ may use, but neither line/, watch/ nor lab/
#   shell/            everything above but acquire/
#   acquire/          everything above but ui/ and shell/: no widgets
# Every layer under ui/ is without Qt Gui and Widgets, and every one but serial/qtserial/
# without Qt Serial Port.
# tests/, bench/ and tools/ may use anything. Fails, naming each step up.
#   tools/check-layers.sh [PRESET]   the build to judge (default debug, built if it is not)
. "$(dirname "$0")/common.sh"

preset=${1:-debug}
build="$root/build/$preset"
build_preset "$preset" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# What each target links, from CMake's graph: "a -> b" for each direct link, whatever its
# kind (public, private, interface).
(cd "$build" && cmake --graphviz="$work/targets.dot" . >/dev/null)
sed -n 's|.*// \(.*\) -> \(.*\)$|\1 \2|p' "$work/targets.dot" >"$work/links"

# Everything a target links, directly or through others.
reaches() {
    awk -v start="$1" '
        { next_of[$1] = next_of[$1] " " $2 }
        END {
            queue[1] = start; seen[start] = 1; n = 1
            for (i = 1; i <= n; i++) {
                split(next_of[queue[i]], targets, " ")
                for (t in targets) {
                    if (!(targets[t] in seen)) { seen[targets[t]] = 1; queue[++n] = targets[t] }
                }
            }
            for (t in seen) if (t != start) print t
        }' "$work/links"
}

# target, then what it may not reach
forbid() {
    local target=$1 reached bad
    shift
    reached=$(reaches "$target")
    for bad in "$@"; do
        if grep -qxF "$bad" <<<"$reached"; then
            echo "check-layers: $target links $bad" >&2
            failed=1
        fi
    done
}
widgets=(Qt6::Gui Qt6::Widgets qm6200_gui qm6200_shell)
# Each library, then what it may not reach: what stands above it in the list of layers.
layers=(qm6200_base qm6200_files qm6200_protocol qm6200_records qm6200_ports qm6200_serial
    qm6200_qtserial qm6200_backend qm6200_process qm6200_journal qm6200_line qm6200_watch
    qm6200_lab qm6200_gui qm6200_shell qm6200_acquire qm6200_test_support)
for ((i = 0; i < ${#layers[@]} - 1; i++)); do
    case ${layers[i]} in
    qm6200_gui | qm6200_shell) forbid "${layers[i]}" "${layers[@]:i+1}" ;;
    *) forbid "${layers[i]}" "${layers[@]:i+1}" "${widgets[@]}" ;;
    esac
done
# Side by side, not above one another: the protocol and the records, the command-line
# program and the windows.
forbid qm6200_protocol qm6200_files qm6200_records
forbid qm6200_records qm6200_files qm6200_protocol
forbid qm6200_acquire qm6200_gui qm6200_shell
forbid qm6200_gui qm6200_backend qm6200_qtserial qm6200_line qm6200_watch qm6200_lab
forbid qm6200_journal qm6200_ports qm6200_serial
for library in qm6200_base qm6200_files qm6200_protocol qm6200_records qm6200_ports qm6200_serial \
    qm6200_process qm6200_journal qm6200_line qm6200_watch qm6200_lab qm6200_gui; do
    forbid "$library" Qt6::SerialPort
done
forbid qm6200-acquire "${widgets[@]}" qm6200_test_support
forbid qm6200-datalink qm6200_acquire qm6200_test_support
# Qt Serial Port only in a build whose programs use it.
if grep -q '^QM6200_SERIAL_BACKEND:STRING=termios$' "$build/CMakeCache.txt"; then
    forbid qm6200-datalink Qt6::SerialPort
    forbid qm6200-acquire Qt6::SerialPort
fi

# The headers each object includes. An object belongs to the folder whose CMakeLists.txt
# made its target (the part of its path before /CMakeFiles/); a header to the folder it is
# in. Objects of tests/, bench/ and tools/ are not judged.
ninja -C "$build" -t deps >"$work/deps"
awk -v root="$root/" -v build="$build/" '
    function folder(path) {
        if (index(path, root) == 1)
            path = substr(path, length(root) + 1)
        if (path ~ /^serial\/qtserial\//) return "serial/qtserial"
        split(path, parts, "/")
        return parts[1]
    }
    BEGIN {
        may["base"] = " base "
        may["files"] = " base files "
        may["protocol"] = " base protocol "
        may["records"] = " base records "
        may["ports"] = " base files ports "
        may["serial"] = " base files ports serial "
        may["serial/qtserial"] = " base files ports serial serial/qtserial "
        may["process"] = " base process "
        may["journal"] = " base files protocol records journal "
        may["line"] = " base files protocol records ports serial journal line "
        may["watch"] = " base files protocol records ports serial process journal line watch "
        may["lab"] = " base files protocol records ports serial process journal line watch lab "
        may["ui"] = " base files protocol records ports serial journal ui "
        may["shell"] = " base files protocol records ports serial serial/qtserial process journal line watch lab ui shell "
        may["acquire"] = " base files protocol records ports serial serial/qtserial process journal line watch lab acquire "
        for (layer in may)
            if (layer != "ui" && layer != "shell")
                widgets[layer] = 1
        for (layer in may)
            if (layer != "serial/qtserial" && layer != "shell" && layer != "acquire")
                noSerialPort[layer] = 1
    }
    /^[^ ]/ {
        object = $1
        sub(/:$/, "", object)
        layer = object
        sub(/\/CMakeFiles\/.*/, "", layer)
        layer = folder(root layer "/")
        judged = (layer in may)
        next
    }
    judged && NF == 1 {
        header = $1
        if (index(header, build) == 1) next
        if (index(header, root) == 1) {
            to = folder(header)
            if (index(may[layer], " " to " ") == 0) {
                print "check-layers: " object " (" layer ") includes " substr(header, length(root) + 1)
                bad = 1
            }
        } else if ((layer in widgets) && header ~ /\/Qt(Gui|Widgets)\//) {
            print "check-layers: " object " (" layer ") includes " header
            bad = 1
        } else if ((layer in noSerialPort) && header ~ /\/QtSerialPort\//) {
            print "check-layers: " object " (" layer ") includes " header
            bad = 1
        }
    }
    END { exit bad }' "$work/deps" >&2 || failed=1

[ "$failed" -eq 0 ] && echo "check-layers: every layer points down (build/$preset)"
exit "$failed"
