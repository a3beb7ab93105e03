#!/usr/bin/env bash
# The TFTP listener's port walk in the whole console program against the simulated device: with
# UDP ports 69 and 70 taken it serves from 71 and the upgrade command names 71; with every port
# from 69 to 168 taken it serves from a port the system chooses, names it in the command and says
# so in its log. An ordinary user, refused all of them for want of privilege, or some for privilege
# and the others because they are taken, likewise serves from a port the system chooses.
# Usage: listener_ports.sh TEV_UPGRADE TEV_DEVICE UDP_PORT_HOLDER WORK_DIR
set -euo pipefail
UPGRADE=$1 DEVICE=$2 HOLDER=$3 WORK=$4
if [ -z "${TEV_IN_NAMESPACE:-}" ]; then
    exec env TEV_IN_NAMESPACE=1 unshare -n -- "$0" "$@"
fi
ip link set lo up
source "$(dirname "${BASH_SOURCE[0]}")/../lib/line_wait.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../lib/ordinary_user.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../lib/sanitizer_statuses.sh"
rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK"

PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; wait; remove_ordinary_user_copies' EXIT
FAIL_SHOWS=("*.out" "*.log")
# wait_for FILE REGEX SECONDS
wait_for() { wait_for_line "$@"; }
# warning: continue; address; the one local address; OK; confirm: Upgrade
ANSWERS='continue\n127.0.0.2\n\n\n\n'

"$DEVICE" --address 127.0.0.2 --flash-time 1 --log device.log --image-file device.bin >device.out 2>&1 &
PIDS+=($!)
wait_for device.out 'ready on' 10

# Ports 69 and 70 taken: the listener binds 71.
"$HOLDER" 127.0.0.1 69 2 >holder.out 2>&1 &
HOLDER_PID=$!
PIDS+=($HOLDER_PID)
wait_for holder.out '^holding' 10
printf "$ANSWERS" | "$UPGRADE" >upgrade.out 2>&1 &
UPGRADE_PID=$!
PIDS+=($UPGRADE_PID)
wait_for device.log 'tftp: (complete|failed)' 60
grep -qE 'http: GET /admin/upgrade\?tftp://127\.0\.0\.1:71/tev[0-9a-f]+\.bi1 HTTP/1\.1$' device.log ||
    fail "the upgrade command does not name port 71"
grep -qE 'tftp: RRQ "/tev[0-9a-f]+\.bi1" .* to 127\.0\.0\.1:71 from port' device.log ||
    fail "the read request did not go to port 71"
grep -q 'tftp: server answers from port 71$' device.log || fail "the transfer did not run on port 71"
grep -q 'tftp: complete, 948814 bytes' device.log || fail "the transfer did not complete"
grep -q '^== Waiting For Firmware Download Request From TEV ==$' upgrade.out ||
    fail "no waiting dialog"
kill "$UPGRADE_PID" "$HOLDER_PID"
wait "$UPGRADE_PID" "$HOLDER_PID" 2>/dev/null || true
# After the flash the web server listens again (the first line is its start).
deadline=$((SECONDS + 60))
until [ "$(grep -c "web server: listening" device.log)" -ge 2 ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the device's web server did not listen again after its flash"
    sleep 0.05
done

# system_port TRACE DEVICE_LOG WHY: the upgrade traced in TRACE took the port the system chose for
# WHY, the device was ordered to fetch from it and fetched the whole image there.
system_port() {
    local name=$1 log=$2 why=$3 port
    wait_for "$log" 'tftp: (complete|failed)' 60
    port=$(sed -n "s/.*TFTP ports 69 to 168 $why; the system chose port \([0-9]*\)$/\1/p" "$name")
    [ -n "$port" ] || fail "$name: no log line for the system's port"
    grep -qE "http: GET /admin/upgrade\?tftp://127\.0\.0\.1:$port/tev[0-9a-f]+\.bi1 HTTP/1\.1$" "$log" ||
        fail "$name: the upgrade command does not name port $port"
    grep -q "tftp: server answers from port $port\$" "$log" || fail "$name: the transfer did not run on $port"
    grep -q 'tftp: complete, 948814 bytes' "$log" || fail "$name: the transfer did not complete"
}

# Every port from 69 to 168 taken (more upgrades at once than the walk holds): the system's port.
# The device logs briefly, as the many-device benchmark's do: its events, no line per packet.
"$DEVICE" --address 127.0.0.4 --flash-time 1 --brief-log --log all.log --image-file all.bin >all-device.out 2>&1 &
PIDS+=($!)
wait_for all-device.out 'ready on' 10
"$HOLDER" 127.0.0.1 69 100 >holder-all.out 2>&1 &
PIDS+=($!)
wait_for holder-all.out '^holding' 10
printf "${ANSWERS/127.0.0.2/127.0.0.4}" | "$UPGRADE" --log upgrade-all.trace >upgrade-all.out 2>&1 &
UPGRADE_PID=$!
PIDS+=($UPGRADE_PID)
system_port upgrade-all.trace all.log 'could not be bound'
kill "$UPGRADE_PID"
! grep -qE 'tftp: (DATA|ACK) |http: connection' all.log || fail "--brief-log: a line per packet"

# As an ordinary user. Devices of their own, so that their logs hold only these runs.
"$DEVICE" --address 127.0.0.3 --flash-time 1 --log user.log --image-file user.bin >user-device.out 2>&1 &
PIDS+=($!)
wait_for user-device.out 'ready on' 10
"$DEVICE" --address 127.0.0.5 --flash-time 1 --log mixed.log --image-file mixed.bin >mixed-device.out 2>&1 &
PIDS+=($!)
wait_for mixed-device.out 'ready on' 10
ordinary_user_program "$UPGRADE"
ordinary_user_folder
ANSWERS_3=${ANSWERS/127.0.0.2/127.0.0.3}

# Ports 69 to 99 need privilege here and 100 to 168 are still held: the system's port as well.
sysctl -qw net.ipv4.ip_unprivileged_port_start=100
printf "${ANSWERS/127.0.0.2/127.0.0.5}" |
    "${AS_ORDINARY_USER[@]}" "$ORDINARY_USER_PROGRAM" --log "$ORDINARY_USER_FOLDER/user-mixed.trace" >user-mixed.out 2>&1 &
UPGRADE_PID=$!
PIDS+=($UPGRADE_PID)
system_port "$ORDINARY_USER_FOLDER/user-mixed.trace" mixed.log 'could not be bound'
kill "$UPGRADE_PID"

# Every port from 69 to 168 needs privilege (1024 is the system's own start): the system's choice.
sysctl -qw net.ipv4.ip_unprivileged_port_start=1024
printf "$ANSWERS_3" | "${AS_ORDINARY_USER[@]}" "$ORDINARY_USER_PROGRAM" >user.out 2>&1 &
UPGRADE_PID=$!
PIDS+=($UPGRADE_PID)
wait_for user.log 'tftp: (complete|failed)' 60
port=$(sed -n 's|.*http: GET /admin/upgrade?tftp://127\.0\.0\.1:\([0-9]*\)/tev[0-9a-f]*\.bi1 HTTP/1\.1$|\1|p' user.log)
[ -n "$port" ] || fail "no upgrade command from the ordinary user"
[ "$port" -ge 1024 ] || fail "the ordinary user's listener is on port $port"
grep -q "tftp: server answers from port $port\$" user.log || fail "the transfer did not run on port $port"
grep -q 'tftp: complete, 948814 bytes' user.log || fail "the ordinary user's transfer did not complete"
kill "$UPGRADE_PID"
echo ok
