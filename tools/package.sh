#!/usr/bin/env bash
# Builds the Debian package and checks it (installing what is missing): lintian, the
# desktop entry and the AppStream metainfo; then installs it with apt-get in a clean
# Debian 12 root made with debootstrap, and starts the installed program there on a virtual
# X server until its window shows. Needs root (for debootstrap and chroot).
#   tools/package.sh            all of it
#   tools/package.sh --build    only build and check the package
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/package"

"$root/tools/deps.sh" build package
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM6200_BUILD_TESTS=OFF \
    >/dev/null
cmake --build "$build" --target qm6200-datalink qm6200-sim packaging_files >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/*.deb)
echo "== built $(basename "$deb")"
dpkg-deb --field "$deb" Depends Recommends

echo "== lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb"
echo "lintian: no errors, no warnings"
echo "== desktop entry and metainfo"
desktop-file-validate "$root/packaging/net.qm6200.DataLink.desktop"
appstreamcli validate --no-net "$root/packaging/net.qm6200.DataLink.metainfo.xml"

[ "${1:-}" = "--build" ] && exit 0

echo "== install in a clean Debian 12 root"
base="$build/debroot-base"
if [ ! -x "$base/usr/bin/apt-get" ]; then
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >/dev/null
fi
chroot_dir="$build/debroot"
cleanup() {
    for m in dev/pts dev proc; do umount -l "$chroot_dir/$m" 2>/dev/null || true; done
}
trap cleanup EXIT
cleanup
rm -rf "$chroot_dir"
cp -a "$base" "$chroot_dir"
mount -t proc proc "$chroot_dir/proc"
mount --bind /dev "$chroot_dir/dev"
mount --bind /dev/pts "$chroot_dir/dev/pts"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
cp "$deb" "$chroot_dir/tmp/"
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq "/tmp/$(basename "$deb")" \
    xvfb x11-utils x11-apps >/dev/null
in_root dpkg -s qm6200-datalink | grep -E '^(Status|Version)'

echo "== start the installed program"
in_root sh -c '
    Xvfb :7 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    sleep 1
    DISPLAY=:7 qm6200-datalink >/tmp/program.log 2>&1 &
    for i in $(seq 60); do
        if DISPLAY=:7 xwininfo -root -tree | grep -q "\"COM PORT\""; then break; fi
        sleep 0.5
    done
    DISPLAY=:7 xwininfo -root -tree | grep -E "\"(QM-6200 DATA LINK SOFTWARE|COM PORT)\"" || {
        echo "the installed program showed no window:" >&2; cat /tmp/program.log >&2; exit 1; }
    sleep 1 # let the dialog paint
    DISPLAY=:7 xwd -root -silent >/tmp/screen.xwd
    kill %2 %1 2>/dev/null || true
'
if command -v convert >/dev/null; then
    convert "xwd:$chroot_dir/tmp/screen.xwd" "$build/installed-program.png"
    echo "screenshot of the installed program: $build/installed-program.png"
fi
echo "package check passed"
