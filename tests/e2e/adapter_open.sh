#!/usr/bin/env bash
# A whole upgrade of an adapter that asks for no password, as the user sees it in the console:
# the warning, the address, the confirmation with the five values the device reports, the upload
# to its full size, the wait of about 30 s, and the success dialog with the device's new version.
# The device keeps the embedded image byte for byte, and received every block in order, whole, and
# nothing but the transfer.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$TARGET_IMAGE")
version=$(image_version "$TARGET_IMAGE")
blocks=$((size / 512 + 1))

start_device dev 127.0.0.2 --flash-time 2 --product-name TEV-4400X --mac 00:1B:5A:AB:CD:EF \
    --serial TV99990001 --software-version "3.1.7(c)" --hardware-version "Rev. Q"
# continue; address; first local address; OK; Upgrade; OK in the success dialog
upgrade up "$UPGRADE" 'continue\n127.0.0.2\n\n\n\n\n'

expect_in_order up "Continue/Cancel [Cancel]: continue" \
    "Please enter IP address of your TEV:" "TEV IP Address: 127.0.0.2" \
    "Your IP Address (1: 127.0.0.1) [1]: " "OK/Cancel [OK]: " \
    "== Connecting with TEV@127.0.0.2 ==" \
    "== Confirm Upgrade to Ver. $version ==" "Serial Number: TV99990001" \
    "MAC Address: 00:1B:5A:AB:CD:EF" "Software Version: 3.1.7(c)" "Hardware Version: Rev. Q" \
    "Product Name: TEV-4400X" "Upgrade/Cancel [Upgrade]: " \
    "== Waiting For Firmware Download Request From TEV ==" \
    "== Uploading Firmware To TEV ==" \
    "Uploading Target Firmware to TEV@127.0.0.2 $size/$size Bytes: 100%" \
    "Updating Target Firmware to TEV@127.0.0.2: 100%" \
    "== TEV@127.0.0.2 Upgrade Successful! ==" "$version" "OK [OK]: "
expect_not_seen up "Enter Password Information"
expect_not_seen up "TEV Firwmare Upgrade Error"
expect_image dev "$TARGET_IMAGE"

# Every block in order and whole, nothing else sent; the version the device reports afterwards.
expect_whole_transfer dev "$size"
expect_logged dev "flash: done, software version now \"$(regex_quote "$version")\""

# From the last acknowledgement to the success dialog: the wait of 937 ticks of 32 ms and a query.
expect_seconds_between "last ACK to success dialog" "$(time_of dev.events 'tftp: complete')" \
    "$(time_of up.times 'Upgrade Successful!')" 29.0 36
echo "ok: $blocks blocks, $size bytes"
