#!/usr/bin/env bash
# The device's TFTP client against tftpd-hpa, a real server, with the tsize option: a full-size
# image and one of exactly two blocks (so the last block is empty) arrive byte for byte, and after
# each flash the status page shows the version at offset 92 of the image received. tftpd-hpa will
# not start in a namespace with only loopback, so both run on high ports of this machine's own
# loopback.
source "$(dirname "$0")/device_test_lib.sh"

mkdir -m 755 srv
"$MAKE_IMAGE" --size 948814 --version "3.2.9(b)" srv/big.bin >/dev/null
"$MAKE_IMAGE" --size 1024 --version "4.0.1(x)" --seed 7 srv/two.bin >/dev/null
chmod 644 srv/*.bin

# A free pair of ports: tftpd-hpa exits at once when its port is taken.
for attempt in 1 2 3 4 5; do
    tftp_port=$((20000 + RANDOM % 20000)) web_port=$((40000 + RANDOM % 20000))
    in.tftpd -L -s "$WORK/srv" -a "127.0.0.1:$tftp_port" &
    tftpd_pid=$!
    sleep 0.3
    kill -0 "$tftpd_pid" 2>/dev/null && break
    tftpd_pid=
done
[ -n "$tftpd_pid" ] || fail "in.tftpd did not start"
STARTED_PIDS+=("$tftpd_pid")

start_device dev --address 127.0.0.1 --port "$web_port" --flash-time 0.3 --tftp-timeout 1
status_url=http://127.0.0.1:$web_port/admin/advanced

upgrade() {  # upgrade FILE: orders the upgrade, waits until the flash is written
    local done_before listening_before
    done_before=$(count 'flash: done' dev.log)
    listening_before=$(count 'web server: listening' dev.log)
    expect_eq "$(http_code "http://127.0.0.1:$web_port/admin/upgrade?tftp://127.0.0.1:$tftp_port/$1")" 200 "upgrade command"
    for _ in $(seq 100); do
        [ "$(count 'flash: done' dev.log)" -gt "$done_before" ] && break
        grep -q 'tftp: failed' dev.log && fail "transfer of $1 failed"
        sleep 0.1
    done
    [ "$(count 'flash: done' dev.log)" -gt "$done_before" ] || fail "no flash after $1"
    for _ in $(seq 50); do
        [ "$(count 'web server: listening' dev.log)" -gt "$listening_before" ] && return 0
        sleep 0.1
    done
    fail "web server not back after the flash of $1"
}

upgrade big.bin
cmp -s dev.bin srv/big.bin || fail "big.bin not received byte for byte"
grep -q 'tftp: RRQ "/big.bin" octet tsize=0 timeout=5' dev.log || fail "RRQ not logged"
grep -q 'tftp: OACK .*tsize=948814' dev.log || fail "tftpd-hpa did not acknowledge tsize"
grep -q 'tftp: server answers from port' dev.log || fail "the server's own port not taken up"
grep -q 'tftp: complete, 948814 bytes in 1854 blocks' dev.log || fail "block count"
curl -s "$status_url" | grep -qF 'Software Version:</td><td><b>3.2.9(b)</b>' || fail "version after the first flash"

upgrade two.bin
cmp -s dev.bin srv/two.bin || fail "two.bin not received byte for byte"
grep -q 'tftp: DATA 3 (0 bytes)' dev.log || fail "empty last block"
grep -q 'tftp: complete, 1024 bytes in 3 blocks' dev.log || fail "two-block image"
curl -s "$status_url" | grep -qF 'Software Version:</td><td><b>4.0.1(x)</b>' || fail "version after the second flash"
echo ok
