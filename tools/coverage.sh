#!/usr/bin/env bash
# Builds every test with gcov's counters (preset coverage, in build/coverage; installing
# what is missing), runs them all and prints which share of the lines they ran, per source
# folder. The test and benchmark code itself is left out: its figures say nothing about
# the program. Fails when a test fails, after printing the figures.
#   tools/coverage.sh
. "$(dirname "$0")/common.sh"
build="$root/build/coverage"

"$root/tools/deps.sh" build fonts postgres coverage
build_preset coverage >/dev/null
# The counters add up over runs: start from none.
find "$build" -name '*.gcda' -delete
tests=0
(cd "$root" && ctest --preset coverage -j "$(nproc)") >"$build/tests.log" 2>&1 || tests=$?
grep -E '^[0-9]+% tests passed' "$build/tests.log" || true

# Sums the lines and the lines run of each source file (gcovr's CSV: name, lines, lines
# run, ...) per folder.
per_folder() {
    awk -F, -v root="$root/" '
    NR == 1 { next }
    {
        file = $1
        if (index(file, root) == 1) file = substr(file, length(root) + 1)
        folder = file
        if (!sub("/[^/]*$", "", folder)) folder = "."
        lines[folder] += $2; run[folder] += $3; all += $2; all_run += $3
    }
    END {
        printf "%-24s %7s %7s %7s\n", "folder", "lines", "run", "share"
        n = 0
        for (f in lines) names[++n] = f
        for (i = 2; i <= n; i++)  # insertion sort: awk has no portable sort
            for (j = i; j > 1 && names[j - 1] > names[j]; j--) {
                t = names[j]; names[j] = names[j - 1]; names[j - 1] = t
            }
        for (i = 1; i <= n; i++) {
            f = names[i]
            printf "%-24s %7d %7d %6.1f%%\n", f "/", lines[f], run[f], lines[f] ? 100 * run[f] / lines[f] : 0
        }
        printf "%-24s %7d %7d %6.1f%%\n", "all", all, all_run, all ? 100 * all_run / all : 0
    }'
}

# gcovr reads its filters as paths from the current folder.
cd "$root"
gcovr --root . -j "$(nproc)" --exclude 'build/' --exclude '(.*/)?tests/' --exclude 'bench/' \
    --csv "$build/coverage.csv" "$build"
per_folder <"$build/coverage.csv"
echo "per file: $build/coverage.csv"
if [ "$tests" -ne 0 ]; then
    echo "coverage.sh: some tests failed; see $build/tests.log" >&2
    exit 1
fi
