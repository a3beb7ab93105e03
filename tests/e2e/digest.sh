#!/usr/bin/env bash
# Whole upgrades of adapters that ask for a password, at the same time: digest with qop "auth"
# and MD5, and with MD5-sess (H(A1) over the raw first hash). The user is asked for the password
# once; the upgrade command and the query after the flash carry accepted credentials; the device
# keeps the image byte for byte, every block received in order and whole, and success comes about 30 s after the
# last acknowledgement.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$TARGET_IMAGE")
version=$(image_version "$TARGET_IMAGE")

start_device md5 127.0.0.3 --flash-time 2 --user admin --password 's3cret pw' --qop auth \
    --algorithm MD5 --realm "TEV md5"
start_device sess 127.0.0.4 --flash-time 2 --user admin --password 'other:pw' --qop auth \
    --algorithm MD5-sess --opaque 5ccc069c403ebaf9f0171e9517f40e41
# continue; address; first local address; OK; user admin; password; OK; Upgrade; OK
start_upgrade md5 "$UPGRADE" 'continue\n127.0.0.3\n\n\n\ns3cret pw\n\n\n\n'
start_upgrade sess "$UPGRADE" 'continue\n127.0.0.4\n\n\n\nother:pw\n\n\n\n'
finish_upgrade md5
finish_upgrade sess

for run in md5 sess; do
    expect_in_order $run "TEV IP Address: 127.0.0." "== Connecting with TEV@127.0.0." \
        "== Enter Password Information ==" "User [admin]: " "Password: " "OK/Cancel [OK]: " \
        "== Confirm Upgrade to Ver. $version ==" "Software Version: 3.1.8(a)" \
        "Uploading Target Firmware to TEV@127.0.0." "$size/$size Bytes: 100%" \
        "Upgrade Successful! ==" "$version"
    [ "$(count_seen $run 'Enter Password Information')" = 1 ] || fail "$run: password asked more than once"
    expect_not_seen $run "s3cret"
    expect_not_seen $run "other:pw"
    expect_not_seen $run "TEV Firwmare Upgrade Error"
    expect_image $run "$TARGET_IMAGE"
    # refused once without credentials; then the query, the command and the query after the flash
    [ "$(count_logged $run 'auth: challenge \(no credentials\)')" = 1 ] || fail "$run: challenges"
    [ "$(count_logged $run 'auth: accepted, user "admin" nc 00000000[123]$')" = 3 ] ||
        fail "$run: three requests with accepted credentials expected"
    expect_logged $run 'upgrade: order to fetch "/tev[0-9a-f]+\.bi1" from 127\.0\.0\.1:(69|70)$'
    expect_whole_transfer $run "$size"
    expect_seconds_between "$run: last ACK to success dialog" "$(time_of $run.events 'tftp: complete')" \
        "$(time_of $run.times 'Upgrade Successful!')" 29.0 36
done
expect_logged sess 'Authorization: Digest .*algorithm="MD5-sess".*opaque="5ccc069c403ebaf9f0171e9517f40e41"'
expect_logged md5 'Authorization: Digest .*realm="TEV md5".*algorithm="MD5"'
echo ok
