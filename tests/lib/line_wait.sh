# Waiting for a line in a file that another program writes; shared by the test and benchmark
# scripts.

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
