#!/usr/bin/env bash
# Runs the tests of a device without permission as an ordinary user: root may open any
# device, so as root those cases can only be skipped. Uses the test command's build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test"
if [ "$(id -u)" -ne 0 ]; then
    echo "as-user.sh: already an ordinary user; the test command ran these cases"
    exit 0
fi
user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false" HOME=/tmp
for test in "link/tst_serialport aDeviceWithoutRightsNamesItsGroup" \
            "shell/tst_faults aDeviceWithoutPermission"; do
    set -- $test
    if ! "${user[@]}" test -x "$build/tests/$1"; then
        echo "as-user.sh: skipped: the user nobody cannot reach $build (a folder on the way is closed)"
        exit 0
    fi
    (cd /tmp && "${user[@]}" "$build/tests/$1" "$2")
done
