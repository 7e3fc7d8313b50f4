#!/usr/bin/env bash
# What the journal costs a short run of qm6200-acquire: the whole process's CPU time (user and
# system) and peak memory, reading 99 records from qm6200-sim at the line's own pace (9600
# baud), with the journal and with --no-journal, one run of each in turn; then the syncs one
# run of each makes, counted by strace. It prints figures and asserts nothing: compare the two
# kinds of the same run, never figures of runs on different days or machines.
#   bench/journal_cost.sh [RUNS]   RUNS of each kind (default 7), of the release build, or of
#                                  the programs that QM6200_ACQUIRE and QM6200_SIM name (to
#                                  measure another build the same way)
. "$(dirname "$0")/../tools/common.sh"

runs=${1:-7}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "journal_cost.sh: RUNS is a number above 0" >&2; exit 2; }
"$root/tools/deps.sh" cost
if [ -n "${QM6200_ACQUIRE:-}" ] && [ -n "${QM6200_SIM:-}" ]; then
    acquire=$QM6200_ACQUIRE
    sim=$QM6200_SIM
else
    build_preset release qm6200-acquire qm6200-sim >/dev/null
    acquire=$(built release qm6200-acquire)
    sim=$(built release qm6200-sim)
fi

start_work
use_own_home
start_simulator "$sim" --records 99

# The options of a run of KIND: "journal" or "no-journal".
options_of() {
    options=(records -q -p "$device" -o "$work/records.csv")
    [ "$1" = journal ] || options+=(--no-journal)
}

# One run of KIND; appends "CPU_MS PEAK_KIB" to $work/KIND. The child's own resource use, to
# the microsecond: time(1) gives hundredths of a second.
run() {
    options_of "$1"
    python3 -c '
import os, sys
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit("journal_cost.sh: qm6200-acquire ended with %d" % os.waitstatus_to_exitcode(status))
print("%.2f %d" % ((usage.ru_utime + usage.ru_stime) * 1000, usage.ru_maxrss))
' "$acquire" "${options[@]}" >>"$work/$1"
    [ "$(wc -l <"$work/records.csv")" -eq 99 ] || { echo "journal_cost.sh: not 99 records" >&2; exit 1; }
}

# The median of column COLUMN of FILE.
median() {
    sort -n -k"$2,$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
        END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# The first run makes the journal: every measured run finds one, as the runs of a day do.
run journal
: >"$work/journal"
for _ in $(seq "$runs"); do
    run journal
    run no-journal
done

printf 'qm6200-acquire records, 99 records at 9600 baud, %d runs of each:\n' "$runs"
for kind in journal no-journal; do
    printf '  %-10s  CPU %6.1f ms (median; %s to %s), peak memory %.1f MiB\n' "$kind" \
        "$(median "$work/$kind" 1)" "$(sort -n "$work/$kind" | head -1 | cut -d' ' -f1)" \
        "$(sort -n "$work/$kind" | tail -1 | cut -d' ' -f1)" \
        "$(awk -v k="$(median "$work/$kind" 2)" 'BEGIN { print k / 1024 }')"
done
awk -v a="$(median "$work/journal" 1)" -v b="$(median "$work/no-journal" 1)" \
    'BEGIN { printf "  the journal costs %.1f ms CPU (the difference of the medians)\n", a - b }'

# The syncs of one run of each kind, every thread's, as the kernel counts the calls.
for kind in journal no-journal; do
    options_of "$kind"
    strace -f -c -e trace=fdatasync,fsync -o "$work/strace" "$acquire" "${options[@]}"
    printf '  %-10s  syncs: %s\n' "$kind" \
        "$(awk '$NF ~ /^f(data)?sync$/ { printf "%s %s  ", $4, $NF }' "$work/strace")"
done
