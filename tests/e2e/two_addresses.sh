#!/usr/bin/env bash
# A device with two addresses: the user types the one its web server answers on (127.0.0.2), and
# its read request, with the whole transfer, leaves from its other address (127.0.0.3). The
# request is served, and the version check after the flash asks the typed address, where the
# web server is: success, and the device keeps the image byte for byte.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$TARGET_IMAGE")
version=$(image_version "$TARGET_IMAGE")

start_device dual 127.0.0.2 --flash-time 2 --tftp-source 127.0.0.3
upgrade dual "$UPGRADE" 'continue\n127.0.0.2\n\n\n\n\n'

expect_logged dual 'tftp: the transfer runs from 127\.0\.0\.3, not the web server'"'"'s 127\.0\.0\.2'
expect_logged dual "tftp: complete, $size bytes"
expect_image dual "$TARGET_IMAGE"
expect_logged dual "flash: done, software version now \"$(regex_quote "$version")\""
expect_in_order dual "TEV IP Address: 127.0.0.2" "$size/$size Bytes: 100%" \
    "Updating Target Firmware to TEV@127.0.0.2: 100%" "== Connecting with TEV@127.0.0.2 ==" \
    "== TEV@127.0.0.2 Upgrade Successful! ==" "$version" "OK [OK]: "
expect_not_seen dual "TEV Firwmare Upgrade Error"
echo ok
