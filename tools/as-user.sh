#!/usr/bin/env bash
# Runs the tests of a device without permission, and of saving into a folder without
# permission, as an ordinary user (nobody): root may open any device and write in any
# folder, so as root those cases can only be skipped. Uses the test command's build;
# the test programs and the simulator are copied where that user can reach them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test"
if [ "$(id -u)" -ne 0 ]; then
    echo "as-user.sh: already an ordinary user; the test command ran these cases"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/tests/link/tst_serialport" "$build/tests/shell/tst_faults" \
    "$build/tests/records/tst_csvexport" "$build/tools/qm6200-sim" "$work/"
chmod 755 "$work"
user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false" HOME="$work"
export QM6200_SIM="$work/qm6200-sim"
cd "$work"
"${user[@]}" ./tst_serialport aDeviceWithoutRightsNamesItsGroup
"${user[@]}" ./tst_faults aDeviceWithoutPermission
"${user[@]}" ./tst_csvexport savingLeavesWhatIsNotAFileAndKeepsLinksAndOwners
