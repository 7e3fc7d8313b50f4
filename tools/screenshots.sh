#!/usr/bin/env bash
# Starts the real program with qm6200-sim on a virtual X server, goes through a session as
# an operator would (splash screen, port dialog, "Acquire Record Data") and saves a
# screenshot of each window in docs/screenshots/.
#   tools/screenshots.sh [output folder]
. "$(dirname "$0")/common.sh"
out=${1:-"$root/docs/screenshots"}

"$root/tools/deps.sh" build run shots
build_preset release qm6200-datalink qm6200-sim >/dev/null
program_file=$(built release qm6200-datalink)
sim_program=$(built release qm6200-sim)
mkdir -p "$out"

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
export DISPLAY=$display QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$sim_program" --records 12 --seed 7 >"$work/sim.out" &
pids+=($!)
for _ in $(seq 50); do grep -q '^device ' "$work/sim.out" && break; sleep 0.1; done
device=$(sed -n 's/^device //p' "$work/sim.out")

(cd "$work" && exec "$program_file") >"$work/program.log" 2>&1 &
program=$!
pids+=("$program")

# The newest visible window of the program whose title matches.
window() {
    local id=
    for _ in $(seq 100); do
        id=$(xdotool search --all --onlyvisible --pid "$program" --name "$1" 2>/dev/null | tail -1) || true
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "screenshots.sh: no window \"$1\"" >&2; cat "$work/program.log" >&2; exit 1; }
    echo "$id"
}
shot() {
    import -window "$1" "$out/$2"
    echo "saved $out/$2"
}

# The splash screen has no title.
sleep 0.8
shot "$(window '^$')" splash.png

dialog=$(window '^COM PORT$')
sleep 0.3
xdotool mousemove --window "$dialog" 245 34 click 1 key ctrl+a type "$device"
sleep 0.2
shot "$dialog" port-dialog.png
xdotool key --window "$dialog" Tab  # out of the box, onto nothing that acts
xdotool mousemove --window "$dialog" 276 68 click 1

main=$(window '^QM-6200 DATA LINK SOFTWARE$')
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$main")"
menu=$((HEIGHT - 419))
# "Acquire Record Data", then time for the paced answer of 12 records.
xdotool mousemove --window "$main" 112 $((menu + 104)) click 1
sleep 1.5
shot "$main" main-window.png

# "Save Data (.csv file)": the save dialog with its two file types.
xdotool mousemove --window "$main" 760 $((menu + 380)) click 1
save=$(window '^Save As$')
sleep 0.5
shot "$save" save-dialog.png
# Its list of file types is a window of its own: taken from the screen.
xdotool mousemove --window "$save" 310 388 click 1
sleep 0.4
eval "$(xdotool getwindowgeometry --shell "$save")"
import -window root -crop "${WIDTH}x$((HEIGHT + 60))+$X+$Y" +repage "$out/save-dialog-types.png"
echo "saved $out/save-dialog-types.png"
xdotool key Escape; sleep 0.2; xdotool key Escape

# "Clear All Data": the question, answered with Cancel.
xdotool mousemove --window "$main" 304 $((menu + 168)) click 1
question=$(window '^Clear Data$')
sleep 0.3
shot "$question" clear-question.png
xdotool key Escape
