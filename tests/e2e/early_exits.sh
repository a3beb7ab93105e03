#!/usr/bin/env bash
# The ends before any transfer, each with exit status 1 (before the exit status told the outcome
# they ended with 0): Cancel in the warning (Enter alone, or
# the end of input) and in the address dialog end silently; no answer to the status query gives
# "Upgrade Failed: No Response From TEV"; Cancel in the password or confirm dialog gives
# "Upgrade Failed: User Abort". The device gets no upgrade order in any of them. An address where
# nothing answers at all (its SYNs vanish) gets ten connect attempts of about 21 s each before the
# no-response box, and Cancel in the connecting dialog ends a connect that waits at once.
source "$(dirname "$0")/e2e_lib.sh"

# 192.0.2.1 (an address for documentation) is routed into loopback, where no address takes it: its
# SYNs vanish unanswered, as at a device switched off or behind a firewall that drops them. The
# unattended run there takes about 210 s, so it runs beside all the rest.
ip route add 192.0.2.1/32 dev lo
UPGRADE_TIME_LIMIT=290 run_with_options silent --device 192.0.2.1 --yes --log silent.log
silent_start=$EPOCHREALTIME
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

# Cancel while a connect to the silent address waits: the run ends at once.
mkfifo cancel.in
timeout 60 "$UPGRADE" <cancel.in >cancel.out 2>cancel.err &
cancel_pid=$!
exec 7>cancel.in
printf 'continue\n192.0.2.1\n\n\n' >&7
wait_for_line cancel.out "Cancel: type cancel and press Enter" 30
asked=$EPOCHREALTIME
printf 'cancel\n' >&7
wait_for_line cancel.out "Upgrade Failed: User Abort" 10
expect_seconds_between "cancel while connecting" "$asked" "$EPOCHREALTIME" 0 5
exec 7>&-
wait "$cancel_pid" && cancel_status=0 || cancel_status=$?
[ "$cancel_status" = 1 ] || fail "cancel: exit status $cancel_status, want 1"

[ "$(count_logged dev 'http: GET /admin/advanced')" = 1 ] || fail "dev: status queries"
[ "$(count_logged locked 'auth: challenge \(no credentials\)')" = 1 ] || fail "locked: challenges"
for run in dev locked; do
    [ "$(count_logged $run 'upgrade: order')" = 0 ] || fail "$run: an upgrade order"
    [ ! -e $run.bin ] || fail "$run: the device received an image"
done

finish_upgrade silent 1
grep -qF "Upgrade Failed: No Response From TEV" silent.out || fail "silent: no no-response box"
[ "$(grep -c 'HTTP connecting from' silent.log)" = 10 ] || fail "silent: not ten connect attempts"
[ "$(grep -c 'HTTP connection failed: Connection timed out' silent.log)" = 10 ] ||
    fail "silent: not ten attempts that timed out"
expect_seconds_between "ten connects to a silent address" "$silent_start" "$EPOCHREALTIME" 190 260
echo ok
