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

# udp_bound PORT: something has bound 127.0.0.1:PORT for UDP.
udp_bound() { ss -Hnlu "src 127.0.0.1:$1" | grep -q .; }

# A free pair of ports: tftpd-hpa exits at once when its port is taken. It counts as started once
# its socket is bound, and as failed once it has ended.
for attempt in 1 2 3 4 5; do
    tftp_port=$((20000 + RANDOM % 20000)) web_port=$((40000 + RANDOM % 20000))
    udp_bound "$tftp_port" && continue
    in.tftpd -L -s "$WORK/srv" -a "127.0.0.1:$tftp_port" &
    tftpd_pid=$!
    deadline=$((SECONDS + 20))
    until udp_bound "$tftp_port" || ! kill -0 "$tftpd_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; do
        sleep 0.05
    done
    kill -0 "$tftpd_pid" 2>/dev/null && udp_bound "$tftp_port" && break
    kill "$tftpd_pid" 2>/dev/null
    tftpd_pid=
done
[ -n "$tftpd_pid" ] || fail "in.tftpd did not start"
STARTED_PIDS+=("$tftpd_pid")

start_device dev --address 127.0.0.1 --port "$web_port" --flash-time 0.3 --tftp-timeout 1
status_url=http://127.0.0.1:$web_port/admin/advanced

upgrade() {  # upgrade FILE: orders the upgrade, waits until the flash is written and the web
    # server listens again
    local done_before listening_before
    done_before=$(count 'flash: done' dev.log)
    listening_before=$(count 'web server: listening' dev.log)
    expect_eq "$(http_code "http://127.0.0.1:$web_port/admin/upgrade?tftp://127.0.0.1:$tftp_port/$1")" 200 "upgrade command"
    STOP_REGEX='tftp: failed' wait_for_count dev.log 'flash: done' $((done_before + 1)) 60
    web_server_back dev $((listening_before + 1))
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
