# Shared by the test scripts that run programs in a private network namespace: entering it, a work
# folder of their own, starting a server and stopping what they started, and (from line_wait.sh)
# waiting for a line in a file.
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
    remove_ordinary_user_copies
}
trap stop_started EXIT

source "$(dirname "${BASH_SOURCE[0]}")/line_wait.sh"
source "$(dirname "${BASH_SOURCE[0]}")/start_server.sh"
source "$(dirname "${BASH_SOURCE[0]}")/ordinary_user.sh"
source "$(dirname "${BASH_SOURCE[0]}")/sanitizer_statuses.sh"

