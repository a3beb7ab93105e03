# Waiting for a line in a file that another program writes, and counting lines; shared by the
# test and benchmark scripts. A wait that runs out fails the script (fail.sh).

source "$(dirname "${BASH_SOURCE[0]}")/fail.sh"

# has_line_within FILE SECONDS GREP-MODE PATTERN: true once a line of FILE matches (GREP-MODE -E
# for a regular expression, -F for fixed text), false when SECONDS pass first.
has_line_within() {
    local file=$1 limit=$2 mode=$3 pattern=$4 i
    for ((i = 0; i < limit * 20; i++)); do
        grep -q "$mode" -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# How wait_for_line reads its PATTERN (-E an extended regular expression, -F fixed text) and how
# long it waits when not told; a script sets them once for all its waits.
LINE_WAIT_MODE=-E
LINE_WAIT_SECONDS=10

# wait_for_line FILE PATTERN [SECONDS]: returns once a line of FILE matches PATTERN; fails when
# SECONDS pass first.
wait_for_line() {
    local file=$1 pattern=$2 limit=${3:-$LINE_WAIT_SECONDS}
    has_line_within "$file" "$limit" "$LINE_WAIT_MODE" "$pattern" && return 0
    [ "$LINE_WAIT_MODE" != -F ] || fail "no line with '$pattern' in $file after $limit s"
    fail "no line matching '$pattern' in $file after $limit s"
}

# count REGEX FILE: how many lines match (0 when none).
count() { grep -cE -- "$1" "$2" || true; }

# stamp: each line read, prefixed with the wall clock in seconds (microseconds after the point).
stamp() {
    local line
    while IFS= read -r line || [ -n "$line" ]; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}
