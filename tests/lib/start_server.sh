# Starting a server a test talks to (the simulated device, a TFTP peer) and waiting until it
# listens. The caller keeps STARTED_PIDS, what it stops when it ends (sandbox.sh does), and has
# sourced line_wait.sh.

# The line the simulated device (tev-device) prints once it listens.
DEVICE_READY='tev-device: (ready on|started;)'

# start_server OUT READY SECONDS COMMAND...: COMMAND in the background with its output in OUT
# (each line stamped, see line_wait.sh, when STAMP_SERVER_OUTPUT is set), stopped when the script
# ends; returns once a line of OUT matches READY (read as wait_for_line reads its patterns), and
# fails when SECONDS pass first. Sets SERVER_PID.
start_server() {
    local out=$1 ready=$2 limit=$3
    shift 3
    if [ -n "${STAMP_SERVER_OUTPUT:-}" ]; then
        "$@" > >(stamp >"$out") 2>&1 &
    else
        "$@" >"$out" 2>&1 &
    fi
    SERVER_PID=$!
    STARTED_PIDS+=("$SERVER_PID")
    wait_for_line "$out" "$ready" "$limit"
}
