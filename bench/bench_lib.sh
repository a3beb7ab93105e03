# Shared by the benchmark scripts: the failure report and the wait for a line. The caller sets
# WORK, the folder whose logs a failure shows.

fail() {
    echo "FAIL: $*" >&2
    local f
    for f in "$WORK"/*.out "$WORK"/*.log; do
        [ -f "$f" ] && { echo "--- $f (last 20 lines)" >&2; tail -20 "$f" >&2; }
    done
    exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/../tests/lib/line_wait.sh"

# wait_for_line FILE REGEX SECONDS
wait_for_line() {
    has_line_within "$1" "$3" -E "$2" && return 0
    fail "no line matching '$2' in $1 after $3 s"
}
