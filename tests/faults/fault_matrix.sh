#!/usr/bin/env bash
# One row of the fault matrix: the console program (carrying a 64 KiB image) against a device
# with one fault, in a private network namespace; the row passes when the program either
# completes with the device holding the image intact, or ends with the row's "Upgrade Failed: "
# message. Either way with the status that tells it (0 verified, 1 failed), within its time, and
# never claiming success wrongly.
# Usage: fault_matrix.sh ROW UPGRADER DEVICE HOSTILE_PEER IMAGE WORK_DIR
set -euo pipefail
ROW=$1 UPGRADER=$2 DEVICE=$3 PEER=$4 IMAGE=$5 WORK=$6

source "$(dirname "${BASH_SOURCE[0]}")/../lib/sandbox.sh"
enter_private_network "$@"
use_work_dir "$WORK"

FAIL_SHOWS=(up.out dev.log peer.out)
FAIL_WIDTH=240
FAIL_ROW=ROW

# The device on 127.0.0.2 with the given options (a 2-second flash).
start_device() {
    start_server dev.out "$DEVICE_READY" 10 \
        "$DEVICE" --address 127.0.0.2 --flash-time 2 --log dev.log --image-file dev.bin "$@"
}

start_peer() { start_server peer.out 'hostile-peer ready' 10 "$PEER" "$@"; }

# The typed lines of a whole upgrade without a password: warning, address, local address, OK,
# confirm, success box.
WHOLE_UPGRADE='continue\n127.0.0.2\n\n\n\n\n'

# upgrade LINES SECONDS: runs the program with those typed lines (then end of input), at most
# SECONDS; sets STATUS and TOOK (whole seconds).
upgrade() {
    local start=$SECONDS
    STATUS=0
    printf "$1" | timeout "$2" "$UPGRADER" >up.out 2>&1 || STATUS=$?
    TOOK=$((SECONDS - start))
    [ "$STATUS" != 124 ] || fail "the program was still running after $2 s"
    [ "$STATUS" = 0 ] || [ "$STATUS" = 1 ] || fail "exit status $STATUS"
}

# A run typed line by line: start_typing, then say (and wait_for_line) as the dialogs come,
# then end_typing, which ends the input and checks how the program ended.
start_typing() {
    rm -f typed
    mkfifo typed
    timeout 120 "$UPGRADER" <typed >up.out 2>&1 &
    PROGRAM_PID=$!
    exec 3>typed
}

say() { printf "$1" >&3; }

# still_waiting SECONDS: the program is still there, without a failure, after SECONDS more.
still_waiting() {
    sleep "$1"
    kill -0 "$PROGRAM_PID" 2>/dev/null || fail "the program ended by itself"
    grep -q 'Upgrade Failed' up.out && fail "a failure before cancel"
    true
}

# end_typing [SECONDS]: and the program must end within SECONDS (default 60).
end_typing() {
    local start=$SECONDS
    exec 3>&-
    STATUS=0
    wait "$PROGRAM_PID" || STATUS=$?
    [ "$STATUS" = 0 ] || [ "$STATUS" = 1 ] || fail "exit status $STATUS"
    [ $((SECONDS - start)) -le "${1:-60}" ] || fail "took $((SECONDS - start)) s to end"
}

# The exit status tells the outcome: 0 for a verified device, 1 for every failure.
expect_success() {
    [ "$STATUS" = 0 ] || fail "exit status $STATUS after a success"
    grep -q 'Upgrade Successful!' up.out || fail "no success"
    grep -q 'Upgrade Failed' up.out && fail "a failure besides the success"
    cmp -s dev.bin "$IMAGE" || fail "the device does not hold the image"
    grep -qF 'flash: done, software version now "3.2.9(b)"' dev.log || fail "not flashed"
}

expect_failure() {
    [ "$STATUS" = 1 ] || fail "exit status $STATUS after a failure"
    grep -qx -- "$1" up.out || fail "no '$1'"
    [ "$(grep -c '^Upgrade Failed: ' up.out)" = 1 ] || fail "more than one failure shown"
    grep -q 'Upgrade Successful!' up.out && fail "success claimed"
    true
}

# The device was never told to fetch an image.
expect_no_order() {
    grep -q 'upgrade: order' dev.log && fail "an upgrade was ordered"
    true
}

case $ROW in
packet_loss)
    # 30 % of the DATA packets and 30 % of the ACKs lost; each loss costs a 100 ms retransmission.
    start_device --drop-data 0.3 --drop-ack 0.3 --seed 7
    upgrade "$WHOLE_UPGRADE" 150
    expect_success
    [ "$(count 'fault: (DATA|ACK) [0-9]+ dropped' dev.log)" -ge 40 ] || fail "too few packets lost"
    ;;
reordered_duplicated)
    # ACKs sent twice, and ACKs held back to arrive behind the ACK of a later block.
    start_device --duplicate-ack 0.3 --late-ack 0.2 --seed 3
    upgrade "$WHOLE_UPGRADE" 150
    expect_success
    [ "$(count 'held ACK [0-9]+ sent late' dev.log)" -ge 10 ] || fail "too few late ACKs"
    [ "$(count 'ACK [0-9]+ sent twice' dev.log)" -ge 10 ] || fail "too few duplicates"
    ;;
acks_from_other_port)
    # Every ACK from a port that is not the request's: the session never hears from its peer.
    start_device --ack-other-port 1
    upgrade "$WHOLE_UPGRADE" 150
    expect_failure 'Upgrade Failed: Firmware Upload Incomplete'
    [ ! -f dev.bin ] || ! cmp -s dev.bin "$IMAGE" || fail "image arrived after all"
    ;;
errors_instead_of_acks)
    # An ERROR packet wherever an ACK belongs.
    start_device --error-instead-of-ack 1
    upgrade "$WHOLE_UPGRADE" 150
    expect_failure 'Upgrade Failed: Firmware Upload Incomplete'
    [ "$(count 'ERROR sent instead of ACK' dev.log)" -ge 2 ] || fail "no ERROR packets"
    [ ! -f dev.bin ] || ! cmp -s dev.bin "$IMAGE" || fail "image arrived after all"
    ;;
connection_kept_open)
    # The device answers the status query but never closes the connection: the connecting
    # dialog stays until the user cancels it.
    start_device --keep-connection-open
    start_typing
    say 'continue\n127.0.0.2\n\n\n'
    wait_for_line dev.log 'connection held open'
    still_waiting 3
    say 'cancel\n\n'
    end_typing 5
    expect_failure 'Upgrade Failed: User Abort'
    grep -q 'Confirm Upgrade' up.out && fail "went on without the end of the answer"
    expect_no_order
    ;;
answer_300k)
    # A status page of about 300 KB: the first 131071 bytes are read, the values are in them.
    start_device --page-padding 300000
    upgrade "$WHOLE_UPGRADE" 150
    expect_success
    grep -q '^Product Name: TEV-4400$' up.out || fail "values not shown"
    ;;
garbage_answer)
    # Binary bytes instead of HTTP: no value can be read, so the host is not taken for a TEV:
    # no confirm dialog, the box, and the status query is all it is sent.
    start_peer web --address 127.0.0.2 --garbage 4096
    upgrade 'continue\n127.0.0.2\n\n\n\n' 20
    expect_failure 'Upgrade Failed: The Address Answered, But Not As A TEV'
    grep -q 'Upgrade/Cancel' up.out && fail "a confirm dialog for an answer without values"
    wait_for_line peer.out '^connection 1 answered'
    [ "$(count '^connection [0-9]+ answered' peer.out)" = 1 ] || fail "more than the status query sent"
    ;;
long_challenge)
    # A challenge whose realm and nonce run to 500 characters: the program keeps 127 of each,
    # so the device refuses every digest; the password dialog returns until the user cancels.
    realm=$(printf 'R%.0s' {1..500})
    nonce=$(printf 'N%.0s' {1..500})
    start_device --user admin --password secret --realm "$realm" --nonce "$nonce"
    upgrade 'continue\n127.0.0.2\n\n\nadmin\nsecret\n\nadmin\nsecret\n\n' 20
    [ "$(count '^== Enter Password Information ==$' up.out)" -ge 3 ] || fail "password not asked again"
    [ "$(count 'auth: refused, realm' dev.log)" -ge 2 ] || fail "device did not refuse the cut realm"
    expect_failure 'Upgrade Failed: User Abort'
    expect_no_order
    ;;
long_values)
    # Status page values of 500 characters: the confirm dialog shows the first 127 of each. The
    # product name starts with the image's product, so that the model check lets it through.
    long=$(printf 'V%.0s' {1..500})
    start_device --product-name "TEV-4400 $long" --mac "M$long" --software-version "3.1.8(a)$long" \
        --hardware-version "H$long" --serial "S$long"
    upgrade "$WHOLE_UPGRADE" 150
    expect_success
    grep -qx "Product Name: TEV-4400 $(printf 'V%.0s' {1..118})" up.out || fail "product name not cut to 127"
    grep -qx "Serial Number: S$(printf 'V%.0s' {1..126})" up.out || fail "serial number not cut to 127"
    ;;
request_flood)
    # Read requests for wrong names, 10000 a second from a neighbour, all through the upgrade;
    # the device sends its own request 3 s after the order, in the midst of them.
    start_device --tftp-delay 3
    start_peer flood --from 127.0.0.3 --to 127.0.0.1:69 --every-us 100
    upgrade "$WHOLE_UPGRADE" 150
    expect_success
    [ "$(count 'wrong requests sent' peer.out)" -ge 30 ] || fail "the flood was too thin"
    ;;
request_from_stranger)
    # A host that read the upgrade command off the network asks for the announced file before
    # the device does (the device's request comes 2 s late), and on its own web server claims
    # the image's version. It gets the image, but the verification asks the device at the
    # address typed, which never got it: no success.
    start_device --tftp-delay 2
    start_typing
    say "$WHOLE_UPGRADE"
    wait_for_line dev.log 'upgrade: order to fetch'
    name=$(sed -n 's/.*upgrade: order to fetch "\([^"]*\)".*/\1/p' dev.log)
    start_peer thief --from 127.0.0.5 --to 127.0.0.1:69 --name "$name" --version '3.2.9(b)'
    wait_for_line peer.out '^theft: ' 20
    end_typing
    expect_failure 'Upgrade Failed: Version not matching'
    grep -q 'connection [0-9]* answered' peer.out && fail "the stranger was asked for the version"
    [ ! -f dev.bin ] || fail "the device got an image as well"
    ;;
ack_ahead)
    # A device whose block counter jumps: it answers DATA 10 with ACK 14, waits for DATA 15, and
    # answers any other block with ACK 14 again. Those acknowledgements are for blocks never
    # sent: taken, they would leave the device with a hole in its image. The run must end with
    # the image intact or with the failure shown, never with a success over a broken image. The
    # program ignores them, sends block 10 again until it gives up, and reports the failure.
    start_device --ack-ahead 10
    upgrade "$WHOLE_UPGRADE" 150
    grep -q 'tftp fault: DATA 10 answered with ACK 14' dev.log || fail "no ACK ahead"
    if grep -q 'Upgrade Successful!' up.out; then
        expect_success
    else
        expect_failure 'Upgrade Failed: Firmware Upload Incomplete'
    fi
    ;;
pause_8s)
    # The device stays silent for 8 s after block 100, as while erasing a flash sector: the
    # block goes out again at growing periods until the device is back.
    start_device --pause-after-block 100 --pause-time 8
    upgrade "$WHOLE_UPGRADE" 150
    expect_success
    grep -q 'fault: silent for 8000 ms after block 100' dev.log || fail "no pause"
    resent=$(count 'tftp: duplicate DATA 101' dev.log)
    [ "$resent" -ge 5 ] && [ "$resent" -le 15 ] || fail "block 101 sent again $resent times"
    ;;
pause_beyond_give_up)
    # Silent for 40 s after block 100: the program gives up after about 27.5 s of silence, waits
    # its 30 s and reports the transfer incomplete.
    start_device --pause-after-block 100 --pause-time 40
    upgrade "$WHOLE_UPGRADE" 150
    expect_failure 'Upgrade Failed: Firmware Upload Incomplete'
    [ "$TOOK" -ge 57 ] || fail "gave up after $TOOK s in all"
    grep -q 'tftp: complete' dev.log && fail "the transfer completed"
    true
    ;;
lost_last_ack | lost_last_ack_handset)
    # The device acknowledges the last block once, that acknowledgement is lost, and it answers
    # no repeat of the block while it writes its flash. The adapter is asked for its version
    # after the wait and reports the image's; the handset, whose version is not checked, gets
    # "Firmware Upload Incomplete".
    model=adapter
    [ "$ROW" = lost_last_ack ] || model=handset
    start_device --model "$model" --drop-last-ack --ignore-repeated-last-block
    upgrade "$WHOLE_UPGRADE" 150
    grep -q 'tftp fault: last ACK [0-9]* dropped' dev.log || fail "the last ACK was not dropped"
    grep -q 'repeated DATA [0-9]* after the end not acknowledged' dev.log || fail "no repeat of the last block"
    cmp -s dev.bin "$IMAGE" || fail "the device does not hold the image"
    if [ "$model" = adapter ]; then
        expect_success
        grep -q '^== Connecting with TEV@127.0.0.2 ==$' up.out || fail "no query after the wait"
    else
        expect_failure 'Upgrade Failed: Firmware Upload Incomplete'
    fi
    ;;
no_version_after_flash)
    # A device already at the image's version whose web server, after the flash, answers with
    # a page that has no values: only a version read after the flash may confirm the upgrade.
    printf 'HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<html><body>Firmware update failed</body></html>\r\n' >after.html
    start_device --software-version '3.2.9(b)' --never-return
    "$PEER" web --address 127.0.0.2 --answer after.html --retry-bind yes >peer.out 2>&1 &
    STARTED_PIDS+=($!)
    upgrade "$WHOLE_UPGRADE" 150
    grep -q 'connection 1 answered' peer.out || fail "the page after the flash did not come from the peer"
    grep -qx 'Software Version: 3.2.9(b)' up.out || fail "version before the upgrade not shown"
    expect_failure 'Upgrade Failed: Version not matching'
    ;;
web_server_not_up)
    # Nothing listens on port 80 yet: the ten connection attempts are refused at once.
    start_device --web-delay 60
    upgrade "$WHOLE_UPGRADE" 20
    expect_failure 'Upgrade Failed: No Response From TEV'
    [ "$TOOK" -le 5 ] || fail "took $TOOK s"
    expect_no_order
    ;;
*)
    fail "unknown row"
    ;;
esac
echo "ok: $ROW"
