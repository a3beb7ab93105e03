# Shared by the benchmark scripts: the failure report, the wait for a line (tests/lib) and the
# arithmetic of the timings. The caller sets WORK, the folder whose logs a failure shows.

source "$(dirname "${BASH_SOURCE[0]}")/../tests/lib/line_wait.sh"
FAIL_SHOWS=("*.out" "*.log")
FAIL_IN=WORK
FAIL_LINES=20

# elapsed START END: the seconds from START to END (values of EPOCHREALTIME).
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f\n", b - a }'; }

# median of the numbers on standard input
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
