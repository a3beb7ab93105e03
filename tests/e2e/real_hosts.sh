#!/usr/bin/env bash
# The program on hosts as users have them, two runs at once:
# - a whole upgrade by an ordinary user (uid 65534) on a computer with a LAN address besides
#   loopback (198.51.100.7 on the namespace's loopback stands for the network card's): the list
#   offers the LAN address first, the default is loopback, the one that reaches the device at
#   127.0.0.2, and nothing goes to the LAN address; the listener serves from the port the system
#   chooses, and the device keeps the image byte for byte;
# - a web server that is not a TEV (Python's http.server with a router's login page): no confirm
#   dialog, the error box, the answer in the log, and no upgrade command to that host.
source "$(dirname "$0")/e2e_lib.sh"
: "${TARGET_IMAGE:?}"

ip addr add 198.51.100.7/24 dev lo
size=$(image_size "$TARGET_IMAGE")

# The router: a page without any of the five values, from Python's own web server.
mkdir -p router-site/admin
printf '<html><head><title>Router</title></head><body><form action="/login">User name: <input name="u"> Password: <input type="password" name="p"></form></body></html>\n' \
    >router-site/admin/advanced
python3 -u -m http.server 80 --bind 127.0.0.5 --directory router-site \
    > >(stamp >router-server.events) 2>router-server.log &
STARTED_PIDS+=($!)
wait_for_line router-server.events "Serving HTTP on 127.0.0.5 port 80"

start_device user 127.0.0.2 --flash-time 2
ordinary_user_folder
ordinary_user_program "$UPGRADE"
printf '#!/bin/sh\nexec %s "%s" --log "%s/user.trace" "$@"\n' "${AS_ORDINARY_USER[*]}" \
    "$ORDINARY_USER_PROGRAM" "$ORDINARY_USER_FOLDER" >as-user.sh
chmod +x as-user.sh
start_upgrade user "$WORK/as-user.sh" 'continue\n127.0.0.2\n\n\n\n\n'

printf '#!/bin/sh\nexec "%s" --log "%s/router.trace" "$@"\n' "$UPGRADE" "$WORK" >with-log.sh
chmod +x with-log.sh
upgrade router "$WORK/with-log.sh" 'continue\n127.0.0.5\n\n\n\n' 1

# Not a TEV: the box instead of the confirm dialog, and the one status query was all it got.
expect_in_order router "TEV IP Address: 127.0.0.5" "== Connecting with TEV@127.0.0.5 ==" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: The Address Answered, But Not As A TEV" \
    "OK [OK]: "
expect_not_seen router "Upgrade/Cancel"
expect_not_seen router "Waiting For Firmware Download Request"
[ "$(grep -c '"GET ' router-server.log)" = 1 ] || fail "router: not one request: $(cat router-server.log)"
grep -qF '"GET /admin/advanced HTTP/1.1" 200' router-server.log || fail "router: no status query"
! grep -q 'admin/upgrade' router-server.log || fail "router: sent the upgrade command"
for text in "The host at 127.0.0.5 answered, but not as a TEV" '  status line "HTTP/1.0 200 OK"' \
    '  first 200 bytes of the answer: "HTTP/1.0 200 OK\x0D\x0AServer: SimpleHTTP/'; do
    grep -qF -- "$text" router.trace || fail "router.trace: no line with '$text'"
done

# The ordinary user: the LAN address listed first, the routed default taken, the system's port.
finish_upgrade user
cp "$ORDINARY_USER_FOLDER/user.trace" user.trace
expect_seen user "Your IP Address (1: 198.51.100.7, 2: 127.0.0.1) [2]: "
expect_in_order user "$size/$size Bytes: 100%" "== TEV@127.0.0.2 Upgrade Successful! ==" "OK [OK]: "
expect_whole_transfer user "$size"
expect_image user "$TARGET_IMAGE"
grep -qF "local address 1: 198.51.100.7" user.trace || fail "user.trace: the LAN address not first"
grep -qF "local address 2: 127.0.0.1" user.trace || fail "user.trace: loopback not second"
grep -qF "+++ using 7f000001" user.trace || fail "user.trace: loopback not chosen"
port=$(sed -n 's/.*TFTP ports 69 to 168 need privileges this user lacks; the system chose port \([0-9]*\)$/\1/p' user.trace)
[ -n "$port" ] || fail "user.trace: no port chosen by the system"
grep -qF "TFTP listener on 127.0.0.1:$port" user.trace || fail "user.trace: listener not on $port"
expect_logged user "http: GET /admin/upgrade\\?tftp://127\\.0\\.0\\.1:$port/tev[0-9a-f]+\\.bi1 HTTP/1\\.1$"
expect_logged user "tftp: server answers from port $port$"
# Nothing to or from the LAN address: the program names it only in its list.
! grep -q '198\.51\.100\.7' user.log || fail "user: the device heard of 198.51.100.7"
[ "$(grep -c '198\.51\.100\.7' user.trace)" = 1 ] || fail "user.trace: 198.51.100.7 used beyond the list"
! grep -q 'c6336407' user.trace || fail "user.trace: 198.51.100.7 used"
[ "$(grep -c 'http: connection from 127\.0\.0\.1:' user.log)" = "$(grep -c 'http: connection from' user.log)" ] ||
    fail "user: a connection not from 127.0.0.1"
echo ok
