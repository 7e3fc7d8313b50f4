#!/usr/bin/env bash
# Runs, as an ordinary user (nobody), what root would hide: the serial line (both backends,
# opened, closed and opened again, port locks no user can read), qm6200-acquire against the
# simulator, and the cases of a device without permission, of saving into a folder without
# permission, of a journal in a folder or file without permission and of a left-over port lock
# the user may not remove. Root may open any device, even one marked for one user alone, and
# read, write and remove in any folder.
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
for name in tst_serialport tst_portlock tst_portmemory tst_acquire tst_portlist tst_faults tst_safewrite tst_ownfiles \
    tst_journal qm6200-sim qm6200-acquire; do
    program=$(built debug "$name")
    cp "$program" "$work/"
done
mkdir "$work/home"
chown 65534:65534 "$work/home"
chmod 755 "$work"
user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qm6200.*=false"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/home/run"
export QM6200_SIM="$work/qm6200-sim" QM6200_ACQUIRE="$work/qm6200-acquire"
cd "$work"
"${user[@]}" ./tst_serialport
"${user[@]}" ./tst_portlock aLeftOverLockThatCannotBeRemovedIsNamed
"${user[@]}" ./tst_portmemory
"${user[@]}" ./tst_acquire
"${user[@]}" ./tst_portlist aPortWithoutRightsIsMarked onlyAHeldAnnouncementNamesASimulator
"${user[@]}" ./tst_faults aDeviceWithoutPermission
"${user[@]}" ./tst_safewrite
"${user[@]}" ./tst_ownfiles
"${user[@]}" ./tst_journal aFaultCostsTheJournalAlone theJournalIsTheUsersAlone
