#!/usr/bin/env bash
# Whole upgrades against web servers that keep the connection open after each answer (for 60 s
# unless the client closes it): answers with a Content-Length, chunked answers whose first status
# label is split across two chunks, and answers without a length from a server that closes when
# the request asks for it. Each upgrade takes its usual time, with no wait for the idle time-out;
# the password is asked once and the device keeps the image byte for byte.
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
echo ok
