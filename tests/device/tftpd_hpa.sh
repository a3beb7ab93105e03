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

# Both ports are drawn below the system's ephemeral range. Every connection's own port comes from
# that range, and a client's connection keeps its port for a minute after it closes (TIME_WAIT):
# a web port drawn there was now and then held by the connections of a busy machine, at the
# device's start or while the flash had its web server closed. Below the range only a program
# that asks for a port by its number takes it. The web port stays below 23456, where the
# upgrader's own HTTP client ports begin (its tests bind them by number).
read -r ephemeral_first _ </proc/sys/net/ipv4/ip_local_port_range
[ "$ephemeral_first" -ge 26000 ] || fail "ephemeral ports from $ephemeral_first leave too few below them"

# taken PROTOCOL PORT: a socket of any state has PORT (-t TCP, -u UDP). owns_udp PID PORT: PID
# itself has bound 127.0.0.1:PORT for UDP.
taken() { ss -Hna "$1" "sport = :$2" | grep -q .; }
owns_udp() { ss -Hnlup "src 127.0.0.1:$2" | grep -q "pid=$1,"; }

# start_servers: tftpd-hpa on tftp_port and the device's web server on web_port, or false with
# nothing left running when either port was taken after all (tftpd-hpa then exits at once, the
# device says it cannot listen).
start_servers() {
    rm -f dev.log dev.out
    in.tftpd -L -s "$WORK/srv" -a "127.0.0.1:$tftp_port" &
    tftpd_pid=$!
    STARTED_PIDS=("$tftpd_pid")
    local deadline=$((SECONDS + 20))
    until owns_udp "$tftpd_pid" "$tftp_port"; do
        kill -0 "$tftpd_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || { stop_servers; return 1; }
        sleep 0.05
    done
    "$DEVICE" --log "$WORK/dev.log" --image-file "$WORK/dev.bin" --address 127.0.0.1 \
        --port "$web_port" --flash-time 0.3 --tftp-timeout 1 >"$WORK/dev.out" 2>&1 &
    STARTED_PIDS+=($!)
    wait_for_line dev.out 'tev-device: (ready on|cannot listen)' 20
    grep -q 'tev-device: ready on' dev.out || { stop_servers; return 1; }
}
stop_servers() {
    kill "${STARTED_PIDS[@]}" 2>/dev/null || true
    wait "${STARTED_PIDS[@]}" 2>/dev/null || true
    STARTED_PIDS=()
}

# A free pair of ports; drawn again when either is taken, even after the check.
started=
for attempt in 1 2 3 4 5; do
    tftp_port=$((24000 + RANDOM % (ephemeral_first - 24000))) web_port=$((10000 + RANDOM % 13000))
    taken -u "$tftp_port" || taken -t "$web_port" && continue
    start_servers && started=1 && break
done
[ -n "$started" ] || fail "no free pair of ports for in.tftpd and the device in 5 draws"
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
