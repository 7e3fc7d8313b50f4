#!/usr/bin/env bash
# Builds the Debian packages (the desktop program's, and qm6200-acquire's of its own) and
# checks them (installing what is missing): lintian, the desktop entry and the AppStream
# metainfo; then installs them with apt-get in a clean Debian 12 root made with debootstrap,
# from the mirror apt uses on this machine (qm6200-acquire first and alone, which must bring
# no Qt Gui and no X libraries), starts the installed desktop program there on a virtual X
# server of this machine's until its window shows, ends it and checks that nothing is left
# running in the root. Needs root (for debootstrap and chroot).
#   tools/package.sh            all of it
#   tools/package.sh --build    only build and check the packages
. "$(dirname "$0")/common.sh"
build="$root/build/package" # the package and the clean roots; the programs are the release build's

case "${1:-}" in
"" | --build) ;;
*) echo "package.sh: unknown option '$1' (none, or --build)" >&2; exit 2 ;;
esac

"$root/tools/deps.sh" build package
build_preset release qm6200-datalink qm6200-sim qm6200-acquire packaging_files >/dev/null
mkdir -p "$build"
rm -f "$build"/*.deb
cpack --config "$root/build/release/CPackConfig.cmake" -B "$build" -G DEB >/dev/null
deb=$(ls "$build"/qm6200-datalink_*.deb)
acquire_deb=$(ls "$build"/qm6200-acquire_*.deb) # the command-line program's own
echo "== built $(basename "$deb") and $(basename "$acquire_deb")"
dpkg-deb --field "$deb" Depends Recommends
dpkg-deb --field "$acquire_deb" Depends

echo "== lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" "$acquire_deb"
echo "lintian: no errors, no warnings"
echo "== desktop entry and metainfo"
desktop-file-validate "$root/packaging/net.qm6200.DataLink.desktop"
appstreamcli validate --no-net "$root/packaging/net.qm6200.DataLink.metainfo.xml"

[ "${1:-}" = "--build" ] && exit 0

# The mirror of Debian 12 that apt uses here, so that a site with a mirror of its own
# installs from it. By code name once apt has read the release files; before that, by
# the suite the sources name.
debian_mirror() {
    local filter uri
    for filter in 'Codename: bookworm' 'Release: bookworm'; do
        uri=$(apt-get indextargets --format '$(REPO_URI)' "$filter" 'Component: main' \
            'Target-Of: deb' | awk 'NR == 1')
        if [ -n "$uri" ]; then
            echo "$uri"
            return 0
        fi
    done
    echo "package.sh: apt's sources on this machine name no mirror of Debian 12 (suite" \
        "bookworm, component main); add one to /etc/apt/sources.list.d/ and run apt-get update" >&2
    return 1
}
mirror=$(debian_mirror) || exit 1

echo "== install in a clean Debian 12 root (from $mirror)"
base="$build/debroot-base"
if [ ! -x "$base/usr/bin/apt-get" ]; then
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" "$mirror" >/dev/null
fi
chroot_dir="$build/debroot"
started="$chroot_dir/tmp/started.pids" # what the check starts in the root, one number a line

# Whether process PID runs in the clean root (or did, when the root has been removed since).
runs_in_root() {
    local target real
    target=$(readlink "/proc/$1/root" 2>/dev/null) || return 1
    real=$(realpath -m "$chroot_dir")
    [ "$target" = "$real" ] || [ "$target" = "$real (deleted)" ]
}

# The processes that run in the clean root.
processes_in_root() {
    local link pid
    for link in /proc/[0-9]*/root; do
        pid=${link#/proc/}
        pid=${pid%/root}
        if runs_in_root "$pid"; then echo "$pid"; fi
    done
}

# Ends what the check started, by the numbers it recorded, last started first: the program
# ends as with Finish while its X server still runs. A number is only
# used while its process still runs in the root, since it may have gone to another process
# meanwhile. The processes are no children of this shell (the shell in the root started
# them), so each end is waited for by watching the process go.
end_started() {
    local pids=() i pid
    [ -f "$started" ] && mapfile -t pids <"$started"
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        runs_in_root "$pid" || continue
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do
            runs_in_root "$pid" || break
            sleep 0.1
        done
        if runs_in_root "$pid"; then
            echo "package.sh: process $pid did not end in 10 s of SIGTERM; killing it" >&2
            kill -KILL "$pid" 2>/dev/null || true
        fi
    done
}

# Fails, naming them, when any process still runs in the root; ends those too.
none_left_in_root() {
    local left pid
    mapfile -t left < <(processes_in_root)
    [ ${#left[@]} -eq 0 ] && return 0
    echo "package.sh: FAILED: processes still run in the clean root $chroot_dir:" >&2
    for pid in "${left[@]}"; do
        echo "  $pid $(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")" >&2
    done
    kill -KILL "${left[@]}" 2>/dev/null || true
    for pid in "${left[@]}"; do
        for _ in $(seq 20); do runs_in_root "$pid" && sleep 0.1 || break; done
    done
    return 1
}

unmount_root() {
    local m
    for m in dev/pts dev proc; do umount -l "$chroot_dir/$m" 2>/dev/null || true; done
}

cleanup() {
    local status=$?
    if [ "$status" -ne 0 ]; then
        end_started
        none_left_in_root || true
    fi
    unmount_root
    # The X server, once the program on it has ended.
    [ -z "${work:-}" ] || stop_work
    exit "$status"
}
trap cleanup EXIT
# What an interrupted earlier run may have left.
end_started
unmount_root
rm -rf "$chroot_dir"
cp -a "$base" "$chroot_dir"
mount -t proc proc "$chroot_dir/proc"
mount --bind /dev "$chroot_dir/dev"
mount --bind /dev/pts "$chroot_dir/dev/pts"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
# The base may have been made from another mirror.
echo "deb $mirror bookworm main" >"$chroot_dir/etc/apt/sources.list"
# No service starts while packages are installed: the root runs only what the check
# starts, and ends.
printf '#!/bin/sh\nexit 101\n' >"$chroot_dir/usr/sbin/policy-rc.d"
chmod 755 "$chroot_dir/usr/sbin/policy-rc.d"
cp "$deb" "$acquire_deb" "$chroot_dir/tmp/"
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root apt-get update -qq
# The command-line program first, alone: a machine with no desktop gets no Qt Gui, no X.
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq "/tmp/$(basename "$acquire_deb")" >/dev/null
in_root qm6200-acquire --version
if in_root dpkg-query -W -f '${Package} ${Status}\n' | grep -E '^(libqt6gui|libqt6widgets|libx11|libxcb)[^ ]* .* installed$'; then
    echo "package.sh: FAILED: qm6200-acquire brought the desktop's libraries (above)" >&2
    exit 1
fi
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null
in_root dpkg -s qm6200-datalink | grep -E '^(Status|Version)'

echo "== start the installed program"
# On a virtual X server of this machine's: the root shares its abstract sockets, where the
# server listens, and is given its cookie. The root holds the program and what its package
# brings, nothing of the X server's.
start_work
trap cleanup EXIT
start_display 1280x800
cp "$XAUTHORITY" "$chroot_dir/tmp/Xauthority"
in_root sh -c '
    DISPLAY=$1 XAUTHORITY=/tmp/Xauthority qm6200-datalink >/tmp/program.log 2>&1 &
    echo $! >>/tmp/started.pids
' sh "$DISPLAY"
for _ in $(seq 60); do
    xwininfo -root -tree | grep -q "\"COM PORT\"" && break
    sleep 0.5
done
xwininfo -root -tree | grep -E "\"(QM-6200 DATA LINK SOFTWARE|COM PORT)\"" || {
    echo "package.sh: the installed program showed no window on the virtual X server:" >&2
    cat "$chroot_dir/tmp/program.log" >&2
    exit 1
}
sleep 1 # let the dialog paint
xwd -root -silent >"$work/screen.xwd"
# A picture for whoever looks at the check, where something here converts one: no part of
# the check itself.
if command -v convert >/dev/null \
    && convert "xwd:$work/screen.xwd" "$build/installed-program.png" 2>/dev/null; then
    echo "screenshot of the installed program: $build/installed-program.png"
else
    cp "$work/screen.xwd" "$build/installed-program.xwd"
    echo "package.sh: no converter for the screenshot here; it is $build/installed-program.xwd"
fi

echo "== end the installed program"
end_started
none_left_in_root || exit 1
echo "ended the program (process $(paste -sd ' ' "$started")); no process is left in the clean root"
unmount_root
echo "package check passed"
