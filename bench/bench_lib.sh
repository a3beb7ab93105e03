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

# wait_for_line FILE REGEX SECONDS
wait_for_line() {
    local i
    for ((i = 0; i < $3 * 50; i++)); do
        grep -qE -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.02
    done
    fail "no line matching '$2' in $1 after $3 s"
}
