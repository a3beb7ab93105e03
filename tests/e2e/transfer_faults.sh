#!/usr/bin/env bash
# Faults during and after the transfer, three upgrades at once:
# - a device that never acknowledges the OACK: it gets the OACK 30 times, the full wait follows,
#   then "Upgrade Failed: Firmware Upload Incomplete";
# - 10 % of the packets lost each way and acknowledgements duplicated (the 64 KiB build, whose
#   last block is empty): success, and the device keeps the image intact;
# - a device that never comes back after its flash: 10 queries, then "Upgrade Failed: No Response
#   From TEV";
# - a TFTP client whose read request names no options (RFC 1350 alone), which would not understand
#   an OACK: DATA 1 comes first, the transfer runs in lock step, the device keeps the image.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$TARGET_IMAGE")
small_size=$(image_size "$SMALL_IMAGE")

start_device silent 127.0.0.7 --flash-time 1 --never-ack-oack
start_device lossy 127.0.0.8 --flash-time 1 --drop-data 0.1 --drop-ack 0.1 --duplicate-ack 0.2 \
    --tftp-timeout 0.5 --tftp-retries 20 --seed 7
start_device gone 127.0.0.9 --flash-time 1 --never-return
start_device plain 127.0.0.10 --flash-time 1 --tftp-no-options
start_upgrade silent "$UPGRADE" 'continue\n127.0.0.7\n\n\n\n\n'
start_upgrade plain "$SMALL" 'continue\n127.0.0.10\n\n\n\n\n'
start_upgrade lossy "$SMALL" 'continue\n127.0.0.8\n\n\n\n\n'
start_upgrade gone "$UPGRADE" 'continue\n127.0.0.9\n\n\n\n\n'
finish_upgrade silent 1
finish_upgrade lossy
finish_upgrade gone 1
finish_upgrade plain

# Never acknowledged: 30 OACKs, no block, the whole wait, the message, no query.
[ "$(count_logged silent 'tftp fault: OACK \(tsize='"$size"' timeout=5\) not acknowledged')" = 30 ] ||
    fail "silent: $(count_logged silent 'tftp fault: OACK') OACKs received, expected 30"
[ "$(count_logged silent 'tftp: DATA')" = 0 ] || fail "silent: DATA sent without an ACK 0"
expect_in_order silent "== Uploading Firmware To TEV ==" \
    "Updating Target Firmware to TEV@127.0.0.7: 0%" "Updating Target Firmware to TEV@127.0.0.7: 100%" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: Firmware Upload Incomplete" "OK [OK]: "
expect_not_seen silent "Bytes"
[ "$(count_seen silent '== Connecting with TEV@')" = 2 ] || fail "silent: a query after a failed transfer"
expect_not_seen silent "Upgrade Successful!"
[ ! -e silent.bin ] || fail "silent: the device kept an image"
# 30 silent periods growing from 100 ms to 1 s (27.5 s in all), then 937 ticks of 32 ms
expect_seconds_between "silent: first OACK to the message" "$(time_of silent.events 'tftp fault: OACK')" \
    "$(time_of silent.times 'Upgrade Failed: Firmware Upload Incomplete')" 57 67

# Losses both ways and duplicated ACKs: they happened, blocks were sent again, the image is whole.
for fault in 'tftp fault: DATA [0-9]+ dropped' 'tftp fault: ACK [0-9]+ dropped' \
    'tftp fault: ACK [0-9]+ sent twice' 'tftp: duplicate DATA'; do
    [ "$(count_logged lossy "$fault")" -gt 0 ] || fail "lossy: no '$fault' in the device log"
done
# Every block arrived in order and whole; what was sent again answered a loss or a silence.
expect_whole_transfer lossy "$small_size" --faults
expect_in_order lossy "$small_size/$small_size Bytes: 100%" "Upgrade Successful! ==" "3.2.9(b)"
expect_not_seen lossy "TEV Firwmare Upgrade Error"
expect_image lossy "$SMALL_IMAGE"

# Never back: the image is in, the ten queries after the wait find no server, the user is told.
expect_image gone "$TARGET_IMAGE"
queries=$(awk '/^Updating Target Firmware to TEV@127.0.0.9: 100%/ { after = 1 }
    after && /^== Connecting with TEV@127.0.0.9 ==$/ { n++ } END { print n + 0 }' gone.out)
[ "$queries" = 10 ] || fail "gone: $queries queries after the wait, expected 10"
expect_in_order gone "$size/$size Bytes: 100%" "Updating Target Firmware to TEV@127.0.0.9: 100%" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: No Response From TEV" "OK [OK]: "
expect_not_seen gone "Upgrade Successful!"
# No options named, no OACK sent: DATA 1 first, every block in turn, the image whole.
expect_logged plain 'tftp: RRQ "/tev[0-9a-f]+\.bi1" octet \(no options\) to 127\.0\.0\.1:'
expect_whole_transfer plain "$small_size" --no-options
expect_in_order plain "$small_size/$small_size Bytes: 100%" "Upgrade Successful! ==" "3.2.9(b)"
expect_image plain "$SMALL_IMAGE"
echo ok
