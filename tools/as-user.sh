#!/usr/bin/env bash
# Runs the tests of a device without permission (opening it, and marking it in the port
# list), and of saving into a folder without permission, as an ordinary user (nobody): root
# may open any device and write in any folder, so as root those cases can only be skipped.
# Uses the test command's build (preset debug, built here if it is not yet); the test
# programs and the simulator are copied where that user can reach them.
. "$(dirname "$0")/common.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "as-user.sh: already an ordinary user; the test command ran these cases"
    exit 0
fi
"$root/tools/deps.sh" build fonts
build_preset debug >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in tst_serialport tst_portlist tst_faults tst_csvexport qm6200-sim; do
    program=$(built debug "$name")
    cp "$program" "$work/"
done
chmod 755 "$work"
user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false" HOME="$work"
export QM6200_SIM="$work/qm6200-sim"
cd "$work"
"${user[@]}" ./tst_serialport aDeviceWithoutRightsNamesItsGroup
"${user[@]}" ./tst_portlist aPortWithoutRightsIsMarked
"${user[@]}" ./tst_faults aDeviceWithoutPermission
"${user[@]}" ./tst_csvexport savingLeavesWhatIsNotAFileAndKeepsLinksAndOwners
