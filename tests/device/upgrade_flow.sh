#!/usr/bin/env bash
# One whole upgrade as the upgrader drives it, seen on the wire by a recording TFTP peer on
# 127.0.0.1:69: the exact read request from one port of the device's own, every ACK from that port,
# the web server refusing connections while the flash is written, then the image's version on the
# status page; the post-flash faults (other version, other letter case, never back); orders the
# device must refuse; an image too short to carry a header.
source "$(dirname "$0")/device_test_lib.sh"
enter_namespace

"$MAKE_IMAGE" --size 5000 --version "3.2.9(b)" img.bin >/dev/null
head -c 100 img.bin >short.bin
PAGE=/admin/advanced

# seconds between the first log lines matching two patterns
log_gap() { awk -v a="$2" -v b="$3" '{ t = $0; sub(/^\[ */, "", t); t += 0 }
    $0 ~ a && !ta { ta = t } $0 ~ b && !tb { tb = t } END { printf "%.3f", tb - ta }' "$1"; }

# --- the whole upgrade, credentials required
# A flash of 2 s, so the look at the web server during it has time on a loaded machine.
start_device flow --address 127.0.0.2 --user admin --password pw --flash-time 2 --tftp-timeout 1
start_peer flow img.bin
expect_eq "$(http_code "http://127.0.0.2/admin/upgrade?tftp://127.0.0.1:69/tev1a2b.bi0")" 401 "command without credentials"
expect_eq "$(http_code "http://127.0.0.2/admin/upgrade?tftp://127.0.0.1:69/tev1a2b.bi0" --digest -u admin:pw)" 200 "command"
wait_for_line flow.log 'flash: writing' 30
expect_eq "$(http_code "http://127.0.0.2$PAGE" --digest -u admin:pw)" 000 "web server during the flash"
wait_pid "$PEER_PID"
expect_eq "$WAIT_STATUS" 0 "peer transfer"
rrq=$(sed -n 's/^[0-9.]* rx \([0-9]*\) RRQ \(.*\)$/\1 \2/p' flow.record)
port=${rrq%% *}
expect_eq "${rrq#* }" '"/tev1a2b.bi0" "octet" "tsize" "0" "timeout" "5"' "read request"
grep -q "^[0-9.]* client 127.0.0.2:$port$" flow.record || fail "request not from the device's address"
expect_eq "$(count ' rx ' flow.record)" 12 "one RRQ and ACK 0 to 10"
expect_eq "$(count " rx $port ACK " flow.record)" 11 "every ACK from the request's port"
for block in $(seq 0 10); do
    expect_eq "$(count " rx $port ACK $block$" flow.record)" 1 "ACK $block once"
done
grep -q 'tx DATA 10 392$' flow.record && grep -q 'result complete' flow.record || fail "transfer incomplete"
wait_for_line flow.log 'flash: done, software version now "3.2.9\(b\)"' 30
web_server_back flow 2
gap=$(log_gap flow.log 'flash: writing' 'flash: done')
awk -v g="$gap" 'BEGIN { exit !(g >= 1.95 && g < 10) }' || fail "flash took $gap s instead of 2"
curl -s --digest -u admin:pw "http://127.0.0.2$PAGE" | grep -qF 'Software Version:</td><td><b>3.2.9(b)</b>' ||
    fail "new version not shown"
cmp -s flow.bin img.bin || fail "image kept is not the image sent"
expect_eq "$(count 'upgrade: order' flow.log)" 1 "orders taken"

# --- post-flash faults: other letter case; another version and exit; never back
start_device swap --address 127.0.0.2 --port 81 --flash-time 0.2 --report-version-case swap
start_peer swap img.bin --linger-ms 100
expect_eq "$(http_code "http://127.0.0.2:81/admin/upgrade?tftp://127.0.0.1:69/a")" 200 "command (swap)"
wait_pid "$PEER_PID"
expect_eq "$WAIT_STATUS" 0 "peer transfer (swap)"
wait_for_line swap.log 'flash: done' 30
web_server_back swap 2
curl -s "http://127.0.0.2:81$PAGE" | grep -qF 'Software Version:</td><td><b>3.2.9(B)</b>' || fail "swapped case not shown"

start_device other --address 127.0.0.2 --port 82 --flash-time 0.2 --report-version 3.3.0 --exit-after-upgrade
other_pid=$DEVICE_PID
start_peer other img.bin --linger-ms 100
expect_eq "$(http_code "http://127.0.0.2:82/admin/upgrade?tftp://127.0.0.1:69/a")" 200 "command (other)"
wait_pid "$other_pid"
expect_eq "$WAIT_STATUS" 0 "device exit after the upgrade"
grep -q 'flash: done, software version now "3.3.0"' other.log || fail "other version"

start_device gone --address 127.0.0.2 --port 83 --flash-time 0.2 --never-return
start_peer gone img.bin --linger-ms 100
expect_eq "$(http_code "http://127.0.0.2:83/admin/upgrade?tftp://127.0.0.1:69/a")" 200 "command (gone)"
wait_for_line gone.log 'fault: web server stays closed' 30
sleep 0.5
expect_eq "$(http_code "http://127.0.0.2:83$PAGE")" 000 "web server after the flash with --never-return"
kill -0 "$DEVICE_PID" || fail "device with --never-return ended"

# --- orders the device refuses, and an image without a header
start_device refuse --address 127.0.0.2 --port 84 --flash-time 0.2 --tftp-timeout 0.5
expect_eq "$(http_code "http://127.0.0.2:84/admin/upgrade?tftp://10.9.8.7:69/x")" 403 "TFTP server off loopback"
expect_eq "$(http_code "http://127.0.0.2:84/admin/upgrade?tftp://127.0.0.1:99999/x")" 400 "port out of range"
expect_eq "$(http_code "http://127.0.0.2:84/admin/upgrade?tftp://127.0.0.1:69/")" 400 "no file name"
expect_eq "$(http_code "http://127.0.0.2:84/admin/upgrade?http://127.0.0.1/x")" 400 "not tftp"
expect_eq "$(http_code "http://127.0.0.2:84/admin/other")" 404 "unknown page"
grep -q 'tftp: RRQ' refuse.log && fail "a refused order sent a request"
start_peer short short.bin --linger-ms 100
expect_eq "$(http_code "http://127.0.0.2:84/admin/upgrade?tftp://127.0.0.1:69/short")" 200 "command (short)"
wait_pid "$PEER_PID"
expect_eq "$WAIT_STATUS" 0 "peer transfer (short)"
wait_for_line refuse.log 'no header; not flashed, software version stays "3.1.8\(a\)"' 30
cmp -s refuse.bin short.bin || fail "short image not kept"
curl -s "http://127.0.0.2:84$PAGE" | grep -qF 'Software Version:</td><td><b>3.1.8(a)</b>' || fail "short image changed the version"
echo ok
