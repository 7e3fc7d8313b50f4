#!/usr/bin/env bash
# Keeps the layers pointing down, judged from the build itself rather than from the text of
# the sources: what each library links (CMake's own graph of the targets), and the headers
# each object file really includes (the compiler's dependency records, as Ninja keeps them).
#   files/            the user's own files and files written whole (qm6200_files): itself
#                     alone; Qt Core, no Gui, no Widgets, no Serial Port
#   link/, records/   the core (qm6200_core): files/ and each other only; Qt Core, no Gui, no
#                     Widgets, no Serial Port
#   link/qtserial/    the backend over Qt Serial Port: the core and itself
#   journal/          the journal (qm6200_journal), on the core's level: the core and itself;
#                     Qt Core and SQLite, no Gui, no Widgets, no Serial Port
#   line/             a line per port and its exchanges (qm6200_line): the core, the journal
#                     and itself; no Gui, no Widgets, no Serial Port
#   ui/               the core, the journal and itself
#   shell/            the core, the serial backends, the journal, line/, ui/ and itself
#   acquire/          the core, the serial backends, the journal, line/ and itself: no widgets
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
above_core=(qm6200_qtserial qm6200_serial qm6200_gui qm6200_shell qm6200_acquire
    qm6200_test_support)
widgets=(Qt6::Gui Qt6::Widgets qm6200_gui qm6200_shell)
forbid qm6200_files qm6200_core "${above_core[@]}" qm6200_journal "${widgets[@]}" Qt6::SerialPort
forbid qm6200_core "${above_core[@]}" qm6200_journal qm6200_line "${widgets[@]}" Qt6::SerialPort
forbid qm6200_journal "${above_core[@]}" qm6200_line "${widgets[@]}" Qt6::SerialPort
forbid qm6200_line "${above_core[@]}" "${widgets[@]}" Qt6::SerialPort
forbid qm6200_qtserial qm6200_serial qm6200_gui qm6200_shell qm6200_acquire "${widgets[@]}"
forbid qm6200_gui qm6200_serial qm6200_qtserial qm6200_shell qm6200_acquire Qt6::SerialPort
forbid qm6200_shell qm6200_acquire qm6200_test_support
forbid qm6200_acquire "${widgets[@]}" qm6200_test_support
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
        if (path ~ /^link\/qtserial\//) return "link/qtserial"
        if (path ~ /^(link|records)\//) return "core"
        split(path, parts, "/")
        return parts[1]
    }
    BEGIN {
        may["files"] = " files "
        may["core"] = " files core "
        may["link/qtserial"] = " files core link/qtserial "
        may["journal"] = " files core journal "
        may["line"] = " files core journal line "
        may["ui"] = " files core journal ui "
        may["shell"] = " files core link/qtserial journal line ui shell "
        may["acquire"] = " files core link/qtserial journal line acquire "
        widgets["files"] = widgets["core"] = widgets["link/qtserial"] = widgets["journal"] = 1
        widgets["line"] = widgets["acquire"] = 1
        noSerialPort["files"] = noSerialPort["core"] = noSerialPort["journal"] = 1
        noSerialPort["line"] = 1
        noSerialPort["ui"] = 1
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
