#!/usr/bin/env bash
# The version check after the flash, two upgrades at once. The handset build takes whatever version
# the handset then reports and shows it in the success dialog. An adapter that reports the image's
# version in other letter case fails the check: "Upgrade Failed: Version not matching" and no
# success dialog, although the device keeps the image.
source "$(dirname "$0")/e2e_lib.sh"

handset_size=$(image_size "$HANDSET_IMAGE")
handset_version=$(image_version "$HANDSET_IMAGE")
size=$(image_size "$TARGET_IMAGE")
version=$(image_version "$TARGET_IMAGE")
swapped=$(printf '%s' "$version" | tr 'a-zA-Z' 'A-Za-z')
[ "$swapped" != "$version" ] || fail "the image's version $version has no letters to swap"

start_device handset 127.0.0.5 --model handset --flash-time 2 --software-version 1.4.2 \
    --report-version "1.4.2-x"
start_device case 127.0.0.6 --flash-time 2 --report-version-case swap
start_upgrade handset "$HANDSET" 'continue\n127.0.0.5\n\n\n\n\n'
start_upgrade case "$UPGRADE" 'continue\n127.0.0.6\n\n\n\n\n'
finish_upgrade handset
finish_upgrade case 1

expect_in_order handset "== TEV-610 Firmware Upgrade ==" "TEV IP Address: 127.0.0.5" \
    "== Confirm Upgrade to Ver. $handset_version ==" "Software Version: 1.4.2" \
    "Product Name: TEV-610" "$handset_size/$handset_size Bytes: 100%" \
    "== TEV@127.0.0.5 Upgrade Successful! ==" "1.4.2-x" "OK [OK]: "
expect_not_seen handset "TEV Firwmare Upgrade Error"
expect_image handset "$HANDSET_IMAGE"
expect_logged handset 'flash: done, software version now "1\.4\.2-x"'

expect_in_order case "TEV IP Address: 127.0.0.6" "$size/$size Bytes: 100%" \
    "Updating Target Firmware to TEV@127.0.0.6: 100%" "== Connecting with TEV@127.0.0.6 ==" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: Version not matching" "OK [OK]: "
expect_not_seen case "Upgrade Successful!"
expect_image case "$TARGET_IMAGE"
expect_logged case "flash: done, software version now \"$(regex_quote "$swapped")\""
echo ok
