#!/usr/bin/env bash
# The ends before any transfer, each with exit status 1 (before the exit status told the outcome
# they ended with 0): Cancel in the warning (Enter alone, or
# the end of input) and in the address dialog end silently; no answer to the status query gives
# "Upgrade Failed: No Response From TEV"; Cancel in the password or confirm dialog gives
# "Upgrade Failed: User Abort". The device gets no upgrade order in any of them.
source "$(dirname "$0")/e2e_lib.sh"
UPGRADE_TIME_LIMIT=60

start_device dev 127.0.0.2 --flash-time 1
start_device locked 127.0.0.3 --flash-time 1 --user admin --password pw

# expect_silent_end NAME: nothing after the warning or address dialog, no box.
expect_silent_end() {
    expect_not_seen "$1" "TEV Firwmare Upgrade Error"
    expect_not_seen "$1" "== Connecting with"
}

upgrade warning_enter "$UPGRADE" '\n' 1
expect_in_order warning_enter "== TEV-4400 Firmware Upgrade ==" "Continue/Cancel [Cancel]: "
expect_silent_end warning_enter
expect_not_seen warning_enter "TEV IP Address"

upgrade warning_eof "$UPGRADE" '' 1
expect_seen warning_eof "Continue/Cancel [Cancel]: "
expect_silent_end warning_eof

upgrade address_cancel "$UPGRADE" 'continue\n127.0.0.2\n\nc\n' 1
expect_in_order address_cancel "TEV IP Address: 127.0.0.2" "OK/Cancel [OK]: c"
expect_silent_end address_cancel

upgrade address_eof "$UPGRADE" 'continue\n127.0.0.2\n' 1
expect_in_order address_eof "TEV IP Address: 127.0.0.2" "Your IP Address"
expect_silent_end address_eof
[ "$(count_logged dev 'http: GET')" = 0 ] || fail "a request after Cancel in the address dialog"

# Nothing listens on 127.0.0.99: every connection is refused at once.
start=$EPOCHREALTIME
upgrade no_device "$UPGRADE" 'continue\n127.0.0.99\n\n\n\n' 1
expect_in_order no_device "== Connecting with TEV@127.0.0.99 ==" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: No Response From TEV" "OK [OK]: "
[ "$(count_seen no_device '== Connecting with')" = 1 ] || fail "no_device: more than one status query"
expect_not_seen no_device "Confirm Upgrade"
expect_seconds_between "no device" "$start" "$EPOCHREALTIME" 0 20

upgrade confirm_cancel "$UPGRADE" 'continue\n127.0.0.2\n\n\nc\n\n' 1
expect_in_order confirm_cancel "== Confirm Upgrade to Ver." "Upgrade/Cancel [Upgrade]: c" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: User Abort" "OK [OK]: "
expect_not_seen confirm_cancel "Waiting For Firmware Download"

upgrade password_cancel "$UPGRADE" 'continue\n127.0.0.3\n\n\n\n\nc\n\n' 1
expect_in_order password_cancel "== Enter Password Information ==" "OK/Cancel [OK]: c" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: User Abort" "OK [OK]: "
expect_not_seen password_cancel "Confirm Upgrade"

[ "$(count_logged dev 'http: GET /admin/advanced')" = 1 ] || fail "dev: status queries"
[ "$(count_logged locked 'auth: challenge \(no credentials\)')" = 1 ] || fail "locked: challenges"
for run in dev locked; do
    [ "$(count_logged $run 'upgrade: order')" = 0 ] || fail "$run: an upgrade order"
    [ ! -e $run.bin ] || fail "$run: the device received an image"
done
echo ok
