# Shared by the device tests: arguments, a private network namespace, starting and stopping
# tev-device and tftp-peer, waiting for lines, failing with the logs shown.
# Usage in a test: source this file with the test's arguments:
#   DEVICE PEER MAKE_IMAGE WORK_DIR
set -euo pipefail
DEVICE=$1 PEER=$2 MAKE_IMAGE=$3 WORK=$4

source "$(dirname "${BASH_SOURCE[0]}")/../lib/sandbox.sh"

# Re-runs the calling script in a private network namespace, where it may bind port 80 on
# 127.0.0.2.
enter_namespace() { enter_private_network "$DEVICE" "$PEER" "$MAKE_IMAGE" "$WORK"; }

use_work_dir "$WORK"

FAIL_SHOWS=("*.log" "*.record" "*.out")
FAIL_IN=WORK
FAIL_LINES=40

# wait_for_count FILE REGEX N [SECONDS]: waits until at least N lines of FILE match; fails when
# SECONDS (default 30) pass first, or at once when a line matches STOP_REGEX (if set).
wait_for_count() {
    local file=$1 pattern=$2 want=$3 limit=${4:-30} deadline
    deadline=$((SECONDS + limit))
    until [ "$(count "$pattern" "$file" 2>/dev/null)" -ge "$want" ]; do
        if [ -n "${STOP_REGEX:-}" ] && grep -qE -- "$STOP_REGEX" "$file" 2>/dev/null; then
            fail "'$(grep -E -m1 -- "$STOP_REGEX" "$file")' in $file while waiting for '$pattern'"
        fi
        [ "$SECONDS" -lt "$deadline" ] || fail "fewer than $want lines matching '$pattern' in $file after $limit s"
        sleep 0.05
    done
}

# web_server_back NAME N: waits until the device's web server listens for the Nth time (the first
# is its start; each flash closes it and opens it again).
web_server_back() { wait_for_count "$WORK/$1.log" 'web server: listening' "$2" 30; }

# start_device NAME OPTIONS...: starts tev-device with NAME.log, NAME.bin and NAME.out in WORK and
# waits for its first line; sets DEVICE_PID.
start_device() {
    local name=$1
    shift
    start_server "$WORK/$name.out" "$DEVICE_READY" 10 \
        "$DEVICE" --log "$WORK/$name.log" --image-file "$WORK/$name.bin" "$@"
    DEVICE_PID=$SERVER_PID
}

# start_peer NAME FILE OPTIONS...: starts tftp-peer on 127.0.0.1:69 recording into NAME.record;
# sets PEER_PID.
start_peer() {
    local name=$1 file=$2
    shift 2
    start_server "$WORK/$name.peer.out" 'tftp-peer ready' 10 \
        "$PEER" --address 127.0.0.1 --port 69 --file "$file" --record "$WORK/$name.record" "$@"
    PEER_PID=$SERVER_PID
}

# wait_pid PID: waits for it and sets WAIT_STATUS to its exit status, without tripping `set -e`
# (not in a command substitution: a subshell cannot wait for its parent's children).
wait_pid() {
    WAIT_STATUS=0
    wait "$1" || WAIT_STATUS=$?
}

# http_code URL [CURL OPTIONS...]: the status code curl got (000 when it could not connect).
http_code() {
    local url=$1
    shift
    curl -s -o /dev/null -w '%{http_code}' --max-time 10 "$@" "$url" || true
}

expect_eq() { [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"; }
