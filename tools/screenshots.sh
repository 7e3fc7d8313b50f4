#!/usr/bin/env bash
# Starts the real program with qm6200-sim on a virtual X server, goes through a session as
# an operator would (splash screen, port dialog, "Acquire Record Data", the chart, the history,
# a minute's watch of three simulators) and saves a screenshot of each window in
# docs/screenshots/; then draws the port dialog with its list open over a made-up computer's
# ports; then the main window again at 144 dots per inch.
#   tools/screenshots.sh [output folder]
#   tools/screenshots.sh --scaled [output folder]    only the main window at 144 dots per inch
. "$(dirname "$0")/common.sh"
scaled_only=
if [ "${1:-}" = --scaled ]; then
    scaled_only=1
    shift
fi
out=${1:-"$root/docs/screenshots"}

"$root/tools/deps.sh" build run shots
build_preset release qm6200-datalink qm6200-sim qm6200-port-list-shot >/dev/null
program_file=$(built release qm6200-datalink)
sim_program=$(built release qm6200-sim)
list_shot=$(built release qm6200-port-list-shot)
mkdir -p "$out"

start_virtual_session 1920x1200
export QT_QPA_PLATFORM=xcb
start_simulator "$sim_program" --records 12 --seed 7

start_program() {
    (cd "$work" && exec "$program_file") >"$work/program.log" 2>&1 &
    program=$!
    pids+=("$program")
}

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

# The main window at 144 dots per inch, as on a screen set to 150 %: every window half as
# large again, its design's positions with it.
scaled_shot() {
    QT_FONT_DPI=144 start_program
    local dialog main
    dialog=$(window '^COM PORT$')
    sleep 0.5
    xdotool mousemove --window "$dialog" 368 51 click 1 key ctrl+a type "$device"
    xdotool key --window "$dialog" Tab
    xdotool mousemove --window "$dialog" 414 102 click 1
    main=$(window '^QM-6200 DATA LINK SOFTWARE$')
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$main")"
    xdotool mousemove --window "$main" 168 $((HEIGHT - 629 + 156)) click 1
    sleep 1.5
    shot "$main" main-window-144dpi.png
    kill "$program"
}
if [ -n "$scaled_only" ]; then
    scaled_shot
    exit 0
fi

start_program
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

# "Chart": the records the table shows, drawn.
xdotool windowfocus --sync "$main"
xdotool key alt+c
chart=$(window '^Chart$')
sleep 0.5
shot "$chart" chart.png

# "History", from the chart's window: the acquisitions journaled, the last one's records.
xdotool key alt+h
history=$(window '^History$')
sleep 0.5
shot "$history" history.png

# "Watch", from the history's window: three simulated instruments, the main window's among
# them, read every second for a minute.
watched=("$device")
for seed in 8 9; do
    start_simulator "$sim_program" --seed "$seed"
    watched+=("$device")
done
xdotool key alt+w
watch=$(window '^Watch$')
for port in "${watched[@]}"; do
    xdotool windowfocus --sync "$watch"
    xdotool key alt+d
    add=$(window '^Add a port to the watch$')
    sleep 0.3
    xdotool mousemove --window "$add" 245 34 click 1 key ctrl+a type "$port"
    xdotool key --window "$add" Tab
    xdotool mousemove --window "$add" 276 68 click 1
    sleep 0.3
done
xdotool windowfocus --sync "$watch"
xdotool key alt+s
sleep 61
shot "$watch" watch.png

kill "$program"
scaled_shot

# The port list with found ports. The system never lists pseudo-terminals, so the ports are
# made up: a device tree and udev's records under $work, and the nodes in a /dev of this
# step's own (a tmpfs in a private mount namespace: the real /dev is not touched). The
# picture is drawn as an ordinary user in the group dialout, so that a port without that
# group's rights shows as not permitted. Both need root.
if [ "$(id -u)" -ne 0 ]; then
    echo "screenshots.sh: port-list.png needs root (a /dev of its own); it was left as it is" >&2
    exit 0
fi
fake=$work/fake
fake_port() { # name, major:minor, where its device sits in the tree, serial core type, udev lines
    local name=$1 number=$2 hardware=$3 type=$4
    shift 4
    local entry=$fake/sys/devices/$hardware/tty/$name
    mkdir -p "$entry" "$fake/sys/class/tty" "$fake/udev"
    echo "$number" >"$entry/dev"
    printf 'MAJOR=%s\nMINOR=%s\nDEVNAME=%s\n' "${number%:*}" "${number#*:}" "$name" >"$entry/uevent"
    [ -z "$type" ] || echo "$type" >"$entry/type"
    ln -s ../.. "$entry/device"
    ln -s "$entry" "$fake/sys/class/tty/$name"
    [ $# -eq 0 ] || printf '%s\n' "$@" >"$fake/udev/c$number"
}
usb=pci0000:00/0000:00:14.0/usb1
fake_port ttyS0 4:64 platform/serial8250/serial8250:0/serial8250:0.0 4 # COM1: not repeated
fake_port ttyS1 4:65 platform/serial8250/serial8250:0/serial8250:0.1 0 # no UART: not listed
fake_port ttyS4 4:68 pci0000:00/0000:00:16.3 4
fake_port ttyACM0 166:0 "$usb/1-3/1-3:1.0" "" 'E:ID_MODEL_ENC=Counter\x20Link' \
    'E:ID_VENDOR_ENC=Acme\x20Instruments' 'E:ID_SERIAL_SHORT=CL1187'
fake_port ttyUSB0 188:0 "$usb/1-2/1-2:1.0/ttyUSB0" "" 'E:ID_MODEL_ENC=UB-232\x20Cable' \
    'E:ID_VENDOR_ENC=Northwind' 'E:ID_SERIAL_SHORT=NW0042'
fake_port ttyUSB1 188:1 "$usb/1-4/1-4:1.0/ttyUSB1" "" 'E:ID_MODEL=5d21' 'E:ID_VENDOR=9e1f' \
    'E:ID_MODEL_FROM_DATABASE=Serial converter' 'E:ID_VENDOR_FROM_DATABASE=Example Electronics'
cp "$list_shot" "$work/"
chmod -R a+rX "$work"
dialout=$(getent group dialout | cut -d: -f3)
unshare --mount --propagation private sh -ec '
    mount -t tmpfs -o mode=755 qm6200-shot /dev
    for name in ttyS0 ttyS1 ttyS4 ttyACM0 ttyUSB0 ttyUSB1; do : >"/dev/$name"; done
    chgrp "$2" /dev/tty*
    chmod 660 /dev/tty*
    chmod 600 /dev/ttyUSB1
    mkdir -p /dev/serial/by-id
    ln -s ../../ttyUSB0 /dev/serial/by-id/usb-Northwind_UB-232_Cable_NW0042-if00-port0
    # Its own home, as before the session folders: no simulator of this script is listed.
    exec env -u XDG_RUNTIME_DIR -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME \
        -u XDG_STATE_HOME HOME="$1" setpriv --reuid=65534 --regid=65534 --groups="$2" \
        "$1/qm6200-port-list-shot" "$1/fake/sys" "$1/fake/udev" /dev
' sh "$work" "${dialout:-20}" >"$work/port-list.png"
mv "$work/port-list.png" "$out/port-list.png"
echo "saved $out/port-list.png"
