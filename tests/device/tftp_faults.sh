#!/usr/bin/env bash
# Each TFTP fault of the device, seen on the wire by the recording peer (which serves like the
# upgrader: lock step from its one port, resending after 100 ms of silence): duplicated ACKs, lost
# ACKs and lost DATA (the peer resends, the device acknowledges duplicates again), ACKs from another
# port, ERROR instead of ACK, an OACK never acknowledged, ACKs held back behind later ones, ACKs
# ahead of the block received, a read request sent late, and the device's own time-out: its last
# ACK sent again, then it gives up.
source "$(dirname "$0")/device_test_lib.sh"
enter_namespace

"$MAKE_IMAGE" --size 5000 img.bin >/dev/null  # blocks 1 to 10: ACK 0 to 10
web_port=80

# run_case NAME "PEER OPTIONS" DEVICE OPTIONS...: one transfer; WAIT_STATUS is the peer's status
# (0 complete, 1 failed) and PORT the device's port of the read request. The device answers a
# repeated last block for as long as it writes its flash: a long write (the case ends with the
# peer, not the flash), so that a peer that resends a block whose ACK was lost is answered however
# late a loaded machine lets it resend.
run_case() {
    local name=$1 peer_options=$2
    shift 2
    # the previous case's device would keep sending to port 69 after its time-outs
    [ -z "${DEVICE_PID:-}" ] || kill "$DEVICE_PID" 2>/dev/null || true
    start_device "$name" --address 127.0.0.2 --port "$web_port" --flash-time 60 "$@"
    # shellcheck disable=SC2086
    start_peer "$name" img.bin --linger-ms 300 $peer_options
    expect_eq "$(http_code "http://127.0.0.2:$web_port/admin/upgrade?tftp://127.0.0.1:69/$name")" 200 "$name: command"
    wait_pid "$PEER_PID"
    PORT=$(sed -n 's/^[0-9.]* client 127.0.0.2:\([0-9]*\)$/\1/p' "$name.record")
    [ -n "$PORT" ] || fail "$name: no read request"
    web_port=$((web_port + 1))
}

# Every ACK twice from the request's port; the peer ignores the copies and sends nothing twice
# (it would resend only after 5 s of silence, which not even a loaded machine takes).
run_case dup "--retransmit-ms 5000" --duplicate-ack 1
expect_eq "$WAIT_STATUS" 0 "dup: transfer"
for block in $(seq 0 10); do
    expect_eq "$(count " rx $PORT ACK $block$" dup.record)" 2 "dup: copies of ACK $block"
done
expect_eq "$(count 'again' dup.record)" 0 "dup: packets the peer sent again"
cmp -s dup.bin img.bin || fail "dup: image"

# Lost ACKs: for each, the peer sends the block again and the device acknowledges the duplicate.
# With this seed the last ACK is lost too: the device, already writing its flash, still answers
# the repeated last block, or the peer would count the transfer as incomplete.
run_case dropack "" --drop-ack 0.3 --seed 5
expect_eq "$WAIT_STATUS" 0 "dropack: transfer"
dropped=$(sed -n 's/.*tftp fault: ACK \([0-9]*\) dropped/\1/p' dropack.log | sort -un)
[ -n "$dropped" ] || fail "dropack: no ACK dropped"
for block in $dropped; do
    if [ "$block" = 0 ]; then pattern='tx OACK .* again'; else pattern="tx DATA $block [0-9]* again"; fi
    grep -qE "$pattern" dropack.record || fail "dropack: ACK $block lost but nothing sent again"
done
grep -qE 'duplicate DATA [0-9]+, ACK again' dropack.log || fail "dropack: duplicates not acknowledged"
grep -q 'tftp: duplicate DATA 10 after the end, ACK again' dropack.log || fail "dropack: last block not acknowledged again"
cmp -s dropack.bin img.bin || fail "dropack: image"

# Lost DATA: the peer hears no ACK for it and sends it again.
run_case dropdata "" --drop-data 0.3 --seed 5
expect_eq "$WAIT_STATUS" 0 "dropdata: transfer"
dropped=$(sed -n 's/.*tftp fault: DATA \([0-9]*\) dropped/\1/p' dropdata.log | sort -un)
[ -n "$dropped" ] || fail "dropdata: no DATA dropped"
for block in $dropped; do
    grep -qE "tx DATA $block [0-9]+ again" dropdata.record || fail "dropdata: DATA $block lost but not sent again"
done
cmp -s dropdata.bin img.bin || fail "dropdata: image"

# ACKs from a second port: the peer counts them as foreign, never gets past the OACK.
run_case otherport "--retries 5" --ack-other-port 1 --tftp-timeout 2
expect_eq "$WAIT_STATUS" 1 "otherport: transfer must fail"
other=$(sed -n 's/.*ACK 0 sent from other port \([0-9]*\)$/\1/p' otherport.log | head -1)
[ -n "$other" ] && [ "$other" != "$PORT" ] || fail "otherport: port '$other'"
expect_eq "$(count " rx $PORT ACK" otherport.record)" 0 "otherport: ACKs from the request's port"
[ "$(count " rx $other ACK 0$" otherport.record)" -ge 5 ] || fail "otherport: ACK 0 from port $other"
expect_eq "$(count 'tx OACK' otherport.record)" 5 "otherport: OACK sends"

# ERROR instead of every ACK: the device answers each OACK with an ERROR from its own port and
# goes on; the peer does not stop for it and sends the OACK until its retries are used up.
run_case error "--retries 5" --error-instead-of-ack 1 --tftp-timeout 10
expect_eq "$WAIT_STATUS" 1 "error: transfer must fail"
expect_eq "$(count " rx $PORT ERROR 0 \"simulated fault instead of ACK 0\"" error.record)" 5 "error: ERRORs"
expect_eq "$(count ' rx [0-9]+ ACK' error.record)" 0 "error: ACKs"
# ... and with some ERRORs among the ACKs the transfer still completes.
run_case someerror "" --error-instead-of-ack 0.3 --seed 2
expect_eq "$WAIT_STATUS" 0 "someerror: transfer"
[ "$(count " rx $PORT ERROR" someerror.record)" -ge 1 ] || fail "someerror: no ERROR sent"
cmp -s someerror.bin img.bin || fail "someerror: image"

# ACKs held back and sent right behind the ACK of a later block, as a reordering network would
# deliver them (the peer resent the block meanwhile and had its ACK); the stale copies are ignored.
run_case late "" --late-ack 0.3 --seed 4
expect_eq "$WAIT_STATUS" 0 "late: transfer"
held=$(sed -n 's/.*held ACK \([0-9]*\) sent late, after ACK \([0-9]*\)$/\1:\2/p' late.log)
[ -n "$held" ] || fail "late: no ACK sent late"
acks=" $(sed -n "s/^[0-9.]* rx $PORT ACK \([0-9]*\)$/\1/p" late.record | tr '\n' ' ')"
for pair in $held; do
    [ "${pair#*:}" -gt "${pair%:*}" ] || fail "late: ACK ${pair%:*} released after ACK ${pair#*:}"
    grep -q " ${pair#*:} ${pair%:*} " <<<"$acks" || fail "late: ACK ${pair%:*} not right behind ACK ${pair#*:}"
done
cmp -s late.bin img.bin || fail "late: image"

# A block counter that jumps: DATA 3 is answered with ACK 7 and so is each DATA 3 sent again; the
# peer, waiting for ACK 3, gives up, and the device flashes nothing.
run_case ahead "--retries 5" --ack-ahead 3 --tftp-timeout 0.5 --tftp-retries 2
expect_eq "$WAIT_STATUS" 1 "ahead: transfer must fail"
expect_eq "$(count " rx $PORT ACK 3$" ahead.record)" 0 "ahead: ACK 3"
[ "$(count " rx $PORT ACK 7$" ahead.record)" -ge 5 ] || fail "ahead: ACK 7 not sent for each DATA 3"
wait_for_line ahead.log 'tftp: failed, no answer after 2 retries' 5
grep -q 'flash: writing' ahead.log && fail "ahead: flashed an incomplete image"

# The read request only 1 s after the order.
run_case delay "" --tftp-delay 1
expect_eq "$WAIT_STATUS" 0 "delay: transfer"
gap=$(awk '{ t = $0; sub(/^\[ */, "", t); t += 0 } /upgrade: order/ { a = t } /tftp: RRQ/ { print t - a; exit }' delay.log)
awk -v g="$gap" 'BEGIN { exit !(g >= 0.95 && g < 10) }' || fail "delay: request $gap s after the order"

# OACK never acknowledged: nothing comes back, not even the request again.
run_case nooack "--retries 5" --never-ack-oack --tftp-timeout 0.3 --tftp-retries 2
expect_eq "$WAIT_STATUS" 1 "nooack: transfer must fail"
expect_eq "$(count 'tx OACK' nooack.record)" 5 "nooack: OACK sends"
expect_eq "$(count ' rx ' nooack.record)" 1 "nooack: packets from the device (the request only)"
wait_for_line nooack.log 'tftp: failed, no answer after 2 retries' 5

# The device's own time-out: the peer falls silent after DATA 3 (and records for 4 s); the device
# sends ACK 3 again after each 0.5 s of silence, never sooner, twice, then gives up and keeps its
# version. A loaded machine may wake it late, so only a gap of seconds counts as too late.
run_case timeout "--silent-after 3 --retransmit-ms 2000 --retries 2" --tftp-timeout 0.5 --tftp-retries 2
times=$(sed -n "s/^\([0-9.]*\) rx $PORT ACK 3$/\1/p" timeout.record)
expect_eq "$(wc -w <<<"$times")" 3 "timeout: ACK 3 sends"
awk -v list="$times" 'BEGIN { n = split(list, t); for (i = 2; i <= n; i++) if (t[i] - t[i-1] < 0.45 || t[i] - t[i-1] > 2.5) exit 1 }' ||
    fail "timeout: ACK 3 not resent after 0.5 s of silence ($times)"
grep -q 'tftp: failed, no answer after 2 retries' timeout.log || fail "timeout: no give-up"
grep -q 'flash: writing' timeout.log && fail "timeout: flashed an incomplete image"
grep -q 'upgrade: transfer failed, software version stays "3.1.8(a)"' timeout.log || fail "timeout: version"
echo ok
