#!/usr/bin/env bash
# The web server's faults as a client that reads until the close (as the upgrader does) sees
# them: a connection held open after the answer, also for the upgrade command while the transfer
# goes on; a web server that opens only after a delay, refusing connections until then; a status
# page padded to 300 KB.
source "$(dirname "$0")/device_test_lib.sh"
enter_namespace

# get_until_close PORT PATH SECONDS OUT: one request on a raw connection, read until the device
# closes it or SECONDS pass; sets READ_STATUS (124 when the time ran out). Leaves the connection
# open on descriptor 3.
get_until_close() {
    exec 3<>"/dev/tcp/127.0.0.2/$1"
    printf 'GET %s HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n' "$2" >&3
    READ_STATUS=0
    timeout "$3" cat <&3 >"$4" || READ_STATUS=$?
}

# --- the normal close, for comparison
start_device plain --address 127.0.0.2 --port 80
get_until_close 80 /admin/advanced 5 plain.txt
exec 3<&-
expect_eq "$READ_STATUS" 0 "answer ended by the device's close"
grep -q 'Serial Number:' plain.txt || fail "status page"

# --- held open: the whole answer arrives, the close never does; other clients are still served
start_device hold --address 127.0.0.2 --port 81 --keep-connection-open
get_until_close 81 /admin/advanced 3 held.txt
expect_eq "$READ_STATUS" 124 "read on a held connection"
grep -q '^HTTP/1.1 200 OK' held.txt && grep -q 'Serial Number:.*</html>' <(tr -d '\r\n' <held.txt) ||
    fail "held answer incomplete: $(cat held.txt)"
expect_eq "$(http_code http://127.0.0.2:81/admin/advanced --max-time 10)" 200 "another client while one is held"
exec 3<&-
wait_for_line hold.log 'http: client closed a held connection' 30

# ... also the upgrade command's answer, while the device fetches the image
"$MAKE_IMAGE" --size 3000 img.bin >/dev/null
start_peer hold img.bin --linger-ms 100
get_until_close 81 "/admin/upgrade?tftp://127.0.0.1:69/x" 3 command.txt
expect_eq "$READ_STATUS" 124 "read of the held command answer"
grep -q '^HTTP/1.1 200 OK' command.txt || fail "command answer"
wait_pid "$PEER_PID"
expect_eq "$WAIT_STATUS" 0 "transfer while the command's connection is held"
exec 3<&-

# --- web server late by 3 s (time enough for the look before it on a loaded machine)
start_device late --address 127.0.0.2 --port 82 --web-delay 3
expect_eq "$(http_code http://127.0.0.2:82/admin/advanced)" 000 "before the web server opens"
wait_for_line late.out 'tev-device: ready on 127.0.0.2:82' 30
expect_eq "$(http_code http://127.0.0.2:82/admin/advanced)" 200 "after the delay"
late=$(awk '/web server: listening/ { t = $0; sub(/^\[ */, "", t); print t + 0; exit }' late.log)
awk -v t="$late" 'BEGIN { exit !(t >= 2.95 && t < 10) }' || fail "web server opened after $late s instead of 3"

# --- a status page padded by 300000 bytes after its table; the whole of it is sent
start_device padded --address 127.0.0.2 --port 83 --page-padding 300000
curl -s --max-time 10 http://127.0.0.2:83/admin/advanced >padded.html
size=$(stat -c %s padded.html)
[ "$size" -gt 300000 ] && [ "$size" -lt 302000 ] || fail "padded page of $size bytes"
[ "$(tr -cd '-' <padded.html | wc -c)" -ge 300004 ] || fail "padding too short"
tr -d '\r\n' <padded.html | tr -s '-' | grep -q 'Serial Number:.*</table><!- - -></body></html>$' ||
    fail "padding not after the table"
echo ok
