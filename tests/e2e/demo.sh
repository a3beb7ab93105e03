#!/usr/bin/env bash
# The demonstration behind "./run demo": with --auto it answers for the newcomer and a whole
# upgrade of its password-protected device succeeds; without a terminal the end of input cancels
# the warning at once (status 1). Either way it removes its device and files afterwards.
source "$(dirname "$0")/e2e_lib.sh"
mkdir tmp

status=0
TMPDIR=$WORK/tmp timeout 150 "$DEMO" "$UPGRADE" "$DEVICE" "$TARGET_IMAGE" --auto >auto.out 2>&1 ||
    status=$?
[ "$status" = 0 ] || fail "demo --auto: status $status"
expect_in_order auto 'A simulated TEV adapter is running at 127.0.0.2 (user "admin", password "admin")' \
    "TEV IP Address        type   127.0.0.2" "Password              type   admin" \
    "Continue/Cancel [Cancel]: continue" "TEV IP Address: 127.0.0.2" "== Enter Password Information ==" \
    "== Confirm Upgrade to Ver. $(image_version "$TARGET_IMAGE") ==" \
    "== TEV@127.0.0.2 Upgrade Successful! ==" \
    "--- The upgrader ended with status 0. What the device saw:" \
    'auth: accepted, user "admin"' "tftp: complete, $(image_size "$TARGET_IMAGE") bytes" \
    "The device keeps the upgrader's image byte for byte"
[ -z "$(ls tmp)" ] || fail "demo --auto left $(ls tmp) behind"

start=$EPOCHREALTIME
status=0
TMPDIR=$WORK/tmp timeout 30 "$DEMO" "$UPGRADE" "$DEVICE" "$TARGET_IMAGE" </dev/null >eof.out 2>&1 ||
    status=$?
# The end of input cancels the warning: the upgrader's status 1 is the demo's.
[ "$status" = 1 ] || fail "demo without input: status $status"
expect_seconds_between "demo without input" "$start" "$EPOCHREALTIME" 0 10
expect_in_order eof "Continue/Cancel [Cancel]: " "--- The upgrader ended with status 1." \
    "no upgrade order: the upgrade ended before it"
expect_not_seen eof "TEV IP Address:"
[ -z "$(ls tmp)" ] || fail "demo without input left $(ls tmp) behind"
echo ok
