#!/usr/bin/env bash
# The two-stage build, two upgrades at once. A device older than the transition image, and one
# whose version carries "(NT" although its number is newer, both get the transition image first:
# the transition confirmation, the transition image served under the first name, then a second
# command with a new ".bi1" name on the same port, the target image served, and success. The
# device reports the transition image's version after the first flash, the target's after the
# second. Beside them: a device at the transition image's version gets the target image alone, and
# a device that falls silent during the transition transfer ends the run there (status 1), never
# asked for the target image.
source "$(dirname "$0")/e2e_lib.sh"
UPGRADE_TIME_LIMIT=200

transition_size=$(image_size "$TRANSITION_IMAGE")
transition_version=$(image_version "$TRANSITION_IMAGE")
size=$(image_size "$TWO_STAGE_TARGET")
version=$(image_version "$TWO_STAGE_TARGET")
# logged_in_order NAME REGEX...: device log lines matching each, in this order.
logged_in_order() {
    local name=$1
    shift
    awk 'BEGIN { n = ARGC - 2; for (i = 1; i <= n; i++) want[i] = ARGV[i + 1]; ARGC = 2; i = 1 }
        i <= n && $0 ~ want[i] { i++ } END { exit i <= n }' "$name.log" "$@" ||
        fail "$name: the device log lacks or misorders: $*"
}

declare -A at=([older]=127.0.0.10 [marked]=127.0.0.11 [current]=127.0.0.12 [cut]=127.0.0.13)
start_device older ${at[older]} --flash-time 1 --software-version "3.0.9(z)"
start_device marked ${at[marked]} --flash-time 1 --software-version "3.3.0(NT1)"
start_device current ${at[current]} --flash-time 1 --software-version "$transition_version"
start_device cut ${at[cut]} --flash-time 1 --software-version "3.0.9(z)" --quit-first-transfer-after 6
for run in older marked current cut; do
    start_upgrade $run "$TWO_STAGE" "continue\n${at[$run]}\n\n\n\n\n"
done
finish_upgrade older
finish_upgrade marked
finish_upgrade current
finish_upgrade cut 1

# At the transition image's version: one order, the target image, no transition note.
expect_in_order current "== Confirm Upgrade to Ver. $version ==" "Software Version: $transition_version" \
    "Upgrade/Cancel" "Uploading Target Firmware to TEV@${at[current]} $size/$size Bytes: 100%" \
    "== TEV@${at[current]} Upgrade Successful! =="
expect_not_seen current "Note: Since your current firmware version"
expect_not_seen current "Transition Firmware"
[ "$(count_logged current 'upgrade: order to fetch')" = 1 ] || fail "current: more than one order"
expect_image current "$TWO_STAGE_TARGET"

# The transition transfer cut short: its box, and nothing more sent; the device keeps its version.
expect_in_order cut "Uploading Transition Firmware to TEV@${at[cut]}" \
    "Updating Transition Firmware to TEV@${at[cut]}: 100%" "Upgrade Failed: Firmware Upload Incomplete"
[ "$(count_seen cut '== Waiting For Firmware Download Request From TEV ==')" = 1 ] ||
    fail "cut: the program waited for a second request"
expect_not_seen cut "Target Firmware"
expect_not_seen cut "Upgrade Successful!"
[ "$(count_logged cut 'upgrade: order to fetch')" = 1 ] || fail "cut: a second order after the failed stage"
[ "$(count_logged cut 'tftp: RRQ')" = 1 ] || fail "cut: the target image was asked for"
expect_logged cut "upgrade: transfer failed, software version stays \"3\.0\.9\(z\)\""

for run in older marked; do
    address=${at[$run]}
    expect_in_order $run "TEV IP Address: $address" "== Confirm Upgrade to Ver. $version ==" \
        "Note: Since your current firmware version" "is older than $transition_version, this upgrade" \
        "Upgrade/Cancel [Upgrade]: " "== Waiting For Firmware Download Request From TEV ==" \
        "Uploading Transition Firmware to TEV@$address $transition_size/$transition_size Bytes: 100%" \
        "Updating Transition Firmware to TEV@$address: 100%" \
        "== Waiting For Firmware Download Request From TEV ==" \
        "Uploading Target Firmware to TEV@$address $size/$size Bytes: 100%" \
        "Updating Target Firmware to TEV@$address: 100%" \
        "== TEV@$address Upgrade Successful! ==" "$version" "OK [OK]: "
    [ "$(count_seen $run 'Upgrade Successful!')" = 1 ] || fail "$run: success shown more than once"
    expect_not_seen $run "TEV Firwmare Upgrade Error"
    expect_image $run "$TWO_STAGE_TARGET"

    # Two orders: the first name as the address dialog made it, then a new .bi1 name, same port.
    mapfile -t orders < <(sed -n \
        's/.*upgrade: order to fetch "\([^"]*\)" from 127\.0\.0\.1:\([0-9]*\)$/\1 \2/p' $run.log)
    [ "${#orders[@]}" = 2 ] || fail "$run: ${#orders[@]} upgrade orders, expected 2"
    first=${orders[0]% *} second=${orders[1]% *}
    [[ $first =~ ^/tev[0-9a-f]+\.bi0$ ]] || fail "$run: first name $first"
    [[ $second =~ ^/tev[0-9a-f]+\.bi1$ ]] || fail "$run: second name $second"
    [ "${orders[0]#* }" = "${orders[1]#* }" ] || fail "$run: the second order names another port"
    # The transition image first, then the target; the versions the device reported in between.
    logged_in_order $run "tftp: complete, $transition_size bytes" \
        "flash: done, software version now \"$(regex_quote "$transition_version")\"" \
        "tftp: complete, $size bytes" "flash: done, software version now \"$(regex_quote "$version")\""
done
# The decision: 3.0.9(z) is older than the transition image; "(NT" wins over the newer number.
expect_in_order older "Software Version: 3.0.9(z)" "Upgrade/Cancel"
expect_in_order marked "Software Version: 3.3.0(NT1)" "Upgrade/Cancel"
echo ok
