#!/usr/bin/env bash
# The device request runner against the simulated device with digest authentication: when it asks
# for the password, when it sends a refused request again on its own, and Cancel in the password
# dialog. Each case counts the password dialogs the user saw and the credentials the device got.
# Usage: runner_policy.sh RUNNER_DRIVER TEV_DEVICE WORK_DIR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib/sanitizer_statuses.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../lib/line_wait.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../lib/start_server.sh"
DRIVER=$1 DEVICE=$2 WORK=$3
if [ -z "${TEV_IN_NAMESPACE:-}" ]; then
    exec env TEV_IN_NAMESPACE=1 unshare -n -- "$0" "$@"
fi
ip link set lo up
rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK"

DEVICE_PID=
STARTED_PIDS=()
trap '[ -n "$DEVICE_PID" ] && kill "$DEVICE_PID" 2>/dev/null; wait' EXIT

FAIL_LINES=40
FAIL_ROW=CASE
expect_count() { local n; n=$(count "$1" "$2"); [ "$n" = "$3" ] || fail "$4: $n times '$1' in $2, expected $3"; }

# run_case NAME ADDRESS CALLS INPUT DEVICE_OPTIONS...: a fresh device on ADDRESS, then the driver
# with INPUT on its standard input; sets STATUS.
run_case() {
    CASE=$1
    FAIL_SHOWS=("$CASE.out" "$CASE.log")
    local address=$2 calls=$3 input=$4
    shift 4
    start_server "$CASE.device.out" 'ready on' 10 "$DEVICE" --address "$address" --user admin \
        --password pw --log "$CASE.log" --image-file "$CASE.bin" "$@"
    DEVICE_PID=$SERVER_PID
    STATUS=0
    printf '%b' "$input" | timeout 60 "$DRIVER" "$address" "$calls" >"$CASE.out" 2>&1 || STATUS=$?
    kill "$DEVICE_PID" && wait "$DEVICE_PID" || true
    DEVICE_PID=
}
PROMPT='^== Enter Password Information ==$'
PASSWORD='\npw\n\n'  # user name kept (admin), password, OK

# No password known yet: the first refusal asks.
run_case ask-first 127.0.0.2 1 "$PASSWORD"
expect_count "$PROMPT" ask-first.out 1 "password dialogs"
expect_count 'call 1 returned [1-9]' ask-first.out 1 "the page"
expect_count 'auth: challenge \(no credentials\)' ask-first.log 1 "requests without credentials"
expect_count 'auth: accepted' ask-first.log 1 "accepted requests"

# Every accepted request uses the nonce up: the next call is refused with a new nonce and sent
# again at once with the stored credentials, without a dialog.
run_case new-nonce 127.0.0.3 2 "$PASSWORD" --nonce-uses 1
expect_count "$PROMPT" new-nonce.out 1 "password dialogs"
expect_count 'call [12] returned [1-9]' new-nonce.out 2 "pages"
expect_count 'http: Authorization:' new-nonce.log 3 "requests with credentials"
expect_count 'auth: stale' new-nonce.log 1 "refusals for a used-up nonce"
expect_count 'auth: accepted' new-nonce.log 2 "accepted requests"

# A wrong password is refused with the same nonce: the dialog comes back at once.
run_case wrong-password 127.0.0.4 1 '\nwrong\n\n\npw\n\n'
expect_count "$PROMPT" wrong-password.out 2 "password dialogs"
expect_count 'http: Authorization:' wrong-password.log 2 "requests with credentials"
expect_count 'auth: accepted' wrong-password.log 1 "accepted requests"
expect_count 'call 1 returned [1-9]' wrong-password.out 1 "the page"

# An empty password sends no credentials, so the device refuses again and the dialog returns.
run_case empty-password 127.0.0.5 1 '\n\n\n\npw\n\n'
expect_count "$PROMPT" empty-password.out 2 "password dialogs"
expect_count 'auth: challenge \(no credentials\)' empty-password.log 2 "requests without credentials"
expect_count 'http: Authorization:' empty-password.log 1 "requests with credentials"
expect_count 'call 1 returned [1-9]' empty-password.out 1 "the page"

# Several challenges: the first one in header order whose algorithm the client computes is
# answered, named as written, and the device's own check accepts it, also under a new nonce.
run_case sha256-first 127.0.0.7 2 "$PASSWORD" --challenges SHA-256,MD5 --nonce-uses 1
expect_count 'call [12] returned [1-9]' sha256-first.out 2 "pages"
expect_count 'auth: the answer names algorithm "SHA-256"$' sha256-first.log 2 "SHA-256 answers"
expect_count 'auth: accepted' sha256-first.log 2 "accepted requests"
run_case md5-first 127.0.0.8 1 "$PASSWORD" --challenges md5,SHA-256
expect_count 'auth: the answer names algorithm "md5"$' md5-first.log 1 "MD5 answers"
run_case unknown-first 127.0.0.9 1 "$PASSWORD" --challenges SHA-512-256,Basic,sha-256-SESS
expect_count 'auth: the answer names algorithm "sha-256-SESS"$' unknown-first.log 1 "SHA-256-sess answers"
expect_count 'auth: accepted' unknown-first.log 1 "accepted requests"

# Nothing this client can answer: no password dialog, no credentials, the refusal comes back.
run_case unanswerable 127.0.0.10 1 '' --challenges Basic,SHA-512-256
expect_count "$PROMPT" unanswerable.out 0 "password dialogs"
expect_count 'http: Authorization:' unanswerable.log 0 "requests with credentials"
expect_count 'call 1 returned [1-9]' unanswerable.out 1 "the refusal"

# Cancel in the password dialog ends the program with the abort message and status 1.
run_case cancel 127.0.0.6 1 '\npw\nc\n'
[ "$STATUS" = 1 ] || fail "exit status $STATUS"
expect_count "$PROMPT" cancel.out 1 "password dialogs"
expect_count '^Upgrade Failed: User Abort$' cancel.out 1 "abort message"
expect_count 'returned' cancel.out 0 "results after Cancel"
expect_count 'http: Authorization:' cancel.log 0 "requests with credentials"

echo ok
