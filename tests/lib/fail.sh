# Ending a test or benchmark script that found a fault: the message on standard error, then the
# last lines of the files that tell what happened, and exit status 1.
#
# The script names those files in FAIL_SHOWS as patterns ("*.log"), expanded when it fails in the
# folder held by the variable FAIL_IN names (FAIL_IN=WORK; the current folder when empty);
# FAIL_LINES is how many of their last lines are shown (30; empty for the whole file), FAIL_WIDTH
# how many characters of each (empty for all), and FAIL_ROW the name of a variable whose value
# tags the message: "FAIL (packet_loss): ...".
FAIL_SHOWS=()
FAIL_IN=
FAIL_LINES=30
FAIL_WIDTH=
FAIL_ROW=

# fail MESSAGE...
fail() {
    echo "FAIL${FAIL_ROW:+ (${!FAIL_ROW:-})}: $*" >&2
    local folder=${FAIL_IN:+${!FAIL_IN:-}/} pattern file
    for pattern in "${FAIL_SHOWS[@]}"; do
        for file in $folder$pattern; do
            [ -s "$file" ] || continue
            echo "--- $file${FAIL_LINES:+ (last $FAIL_LINES lines)}" >&2
            tail -n "${FAIL_LINES:-+1}" "$file" | cut -c "1-$FAIL_WIDTH" >&2
        done
    done
    exit 1
}
