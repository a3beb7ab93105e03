# Shared by the test scripts that run programs in a private network namespace: entering it, a work
# folder of their own, stopping what they started, and waiting for a line in a file.
# Source it from a script; it sets an EXIT trap that stops every PID in STARTED_PIDS.

# enter_private_network ARGS...: re-runs the calling script with ARGS in a private network
# namespace with loopback up, where ports 80 and 69 are free and nothing sent leaves the machine.
enter_private_network() {
    if [ -z "${TEV_IN_NAMESPACE:-}" ]; then
        exec env TEV_IN_NAMESPACE=1 unshare -n -- "$0" "$@"
    fi
    ip link set lo up
}

# use_work_dir DIR: an empty DIR, made the current folder.
use_work_dir() {
    rm -rf "$1"
    mkdir -p "$1"
    cd "$1"
}

STARTED_PIDS=()
stop_started() {
    local pid
    for pid in "${STARTED_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_started EXIT

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
