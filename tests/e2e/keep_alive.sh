#!/usr/bin/env bash
# Whole upgrades against web servers that keep the connection open after each answer (for 60 s
# unless the client closes it): answers with a Content-Length, chunked answers whose first status
# label is split across two chunks, and answers without a length from a server that closes when
# the request asks for it. Each upgrade takes its usual time, with no wait for the idle time-out;
# the password is asked once and the device keeps the image byte for byte.
# Then 40 such devices (with a length) in one run with --jobs 40, and again at once while the
# ports of the first run wait out their close: more than the port walks hold, so some children
# take ports the system chooses, and every device is verified both times. The second run starts
# with a soft limit of open files too small for its pipes, which the program raises; a hard limit
# too small, and --jobs past 256, are usage errors.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$SMALL_IMAGE")
version=$(image_version "$SMALL_IMAGE")
runs=(length chunked no-length)
address=2
for run in "${runs[@]}"; do
    start_device "$run" "127.0.0.$address" --flash-time 2 --user admin --password pw --keep-alive "$run" \
        --idle-timeout 60
    # continue; address; first local address; OK; user admin; password; OK; Upgrade; OK
    start_upgrade "$run" "$SMALL" "continue\n127.0.0.$address\n\n\n\npw\n\n\n\n"
    address=$((address + 1))
done
# The first of the two runs of 40 goes beside the single upgrades.
fleet=()
for i in $(seq 10 49); do
    start_device fleet$i 127.0.0.$i --flash-time 1 --keep-alive length
    fleet+=(--device 127.0.0.$i)
done
UPGRADE=$SMALL run_with_options first "${fleet[@]}" --jobs 40 --yes --quiet --log-dir first-logs
for run in "${runs[@]}"; do finish_upgrade "$run"; done

for run in "${runs[@]}"; do
    expect_in_order "$run" "== Enter Password Information ==" "== Confirm Upgrade to Ver. $version ==" \
        "Software Version: 3.1.8(a)" "$size/$size Bytes: 100%" "Upgrade Successful! ==" "$version"
    expect_seen "$run" "Product Name: TEV-4400"  # split across two chunks in the chunked run
    [ "$(count_seen "$run" 'Enter Password Information')" = 1 ] || fail "$run: password asked more than once"
    expect_image "$run" "$SMALL_IMAGE"
    expect_whole_transfer "$run" "$size"
    expect_seconds_between "$run: whole upgrade" "$(head -1 "$run.times" | cut -d' ' -f1)" \
        "$(time_of "$run.times" 'Upgrade Successful!')" 29.0 45
done
# The first two kept every connection open; the third closed each one the client asked it to.
for run in length chunked; do
    [ "$(count_logged "$run" 'http: connection held open')" -ge 4 ] || fail "$run: connections not held"
    [ "$(count_logged "$run" 'http: client closed a held connection')" -ge 4 ] || fail "$run: client did not close"
done
[ "$(count_logged no-length 'http: the client asked for the close')" -ge 4 ] || fail "no-length: close not asked"

# fleet_verified NAME: every one of the 40 verified, each keeping the image.
fleet_verified() {
    grep -qx '40 of 40 devices verified' "$1.out" || fail "$1: not every device verified"
    for i in $(seq 10 49); do expect_image fleet$i "$SMALL_IMAGE"; done
}
finish_upgrade first
fleet_verified first
# At once, under a soft limit of 64 open files, short of 2 x 40 pipes.
status=0
timeout 150 prlimit --nofile=64:"$(ulimit -Hn)" "$SMALL" "${fleet[@]}" --jobs 40 --yes --quiet \
    --log-dir second-logs </dev/null >second.out 2>second.err || status=$?
[ "$status" = 0 ] || fail "second: exit status $status"
fleet_verified second
for i in $(seq 10 49); do
    [ "$(count_logged fleet$i 'upgrade: order')" = 2 ] || fail "fleet$i: not upgraded twice"
done
grep -lq 'the system chose port' second-logs/*.log || fail "second: every child had a port of the walks"

status=0
prlimit --nofile=40:40 "$UPGRADE" "${fleet[@]}" --jobs 40 --yes >small-limit.out 2>&1 || status=$?
[ "$status" = 2 ] || fail "exit status $status with a hard limit of 40 open files"
grep -q '^tev-upgrade: --jobs 40: 96 open files needed, but the hard limit is 40 (ulimit -Hn)' small-limit.out ||
    fail "no usage error for the hard limit"
status=0
"$UPGRADE" "${fleet[@]}" --jobs 257 --yes >too-many.out 2>&1 || status=$?
[ "$status" = 2 ] && grep -q '^tev-upgrade: --jobs needs a number from 1 to 256$' too-many.out ||
    fail "--jobs 257 accepted"
echo ok
