#!/usr/bin/env bash
# Whole upgrades against web servers that write HTTP in other common forms: header names in lower
# case (as HTTP/2 front ends pass them on) or capitalised word by word (Www-Authenticate, as Go's
# net/http writes them), an HTTP/1.0 status line, and a Basic challenge before the Digest one, on
# a line of its own or first on the same line; and servers of RFC 7616 that offer SHA-256, alone
# or first before MD5 (one challenge line each). The password is asked once, the Digest challenge
# the program can compute is answered (SHA-256 where offered first), the confirm dialog shows the
# device's values, and the device keeps the image. A device that offers only Basic gets no
# password and no upgrade command: the box says the login cannot be answered.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$SMALL_IMAGE")
version=$(image_version "$SMALL_IMAGE")
declare -A form=([lower]="--header-case lower" [canonical]="--header-case canonical" [http10]="--http10"
    [basic-line]="--basic-first own-line" [basic-same]="--basic-first same-line"
    [sha-first]="--challenges SHA-256,MD5" [sha]="--algorithm SHA-256")
runs=(lower canonical http10 basic-line basic-same sha-first sha)
declare -A answered=([sha-first]="SHA-256" [sha]="SHA-256")
address=2
for run in "${runs[@]}"; do
    # shellcheck disable=SC2086
    start_device "$run" "127.0.0.$address" --flash-time 2 --user admin --password pw --realm "TEV Admin" \
        --algorithm-unquoted ${form[$run]}
    start_upgrade "$run" "$SMALL" "continue\n127.0.0.$address\n\n\n\npw\n\n\n\n"
    address=$((address + 1))
done
start_device basic-only "127.0.0.$address" --flash-time 2 --user admin --password pw --challenges Basic
start_upgrade basic-only "$SMALL" "continue\n127.0.0.$address\n\n\n\npw\n\n\n\n"
for run in "${runs[@]}"; do finish_upgrade "$run"; done
finish_upgrade basic-only 1

expect_in_order basic-only "== Connecting with TEV@127.0.0.$address ==" "== TEV Firwmare Upgrade Error ==" \
    "Upgrade Failed: The TEV Asks For A Login This Program Cannot Answer"
expect_not_seen basic-only "Enter Password Information"
expect_not_seen basic-only "Confirm Upgrade"
[ "$(count_logged basic-only 'http: Authorization:')" = 0 ] || fail "basic-only: credentials sent"
[ "$(count_logged basic-only 'upgrade: ')" = 0 ] || fail "basic-only: an upgrade command"

for run in "${runs[@]}"; do
    expect_in_order "$run" "== Enter Password Information ==" "== Confirm Upgrade to Ver. $version ==" \
        "Software Version: 3.1.8(a)" "$size/$size Bytes: 100%" "Upgrade Successful! ==" "$version"
    for value in "Product Name: TEV-4400" "MAC Address: 00:1B:5A:12:34:56" "Serial Number: TV12345678"; do
        expect_seen "$run" "$value"
    done
    [ "$(count_seen "$run" 'Enter Password Information')" = 1 ] || fail "$run: password asked more than once"
    expect_image "$run" "$SMALL_IMAGE"
    # refused once without credentials; the query, the command and the query after the flash pass
    [ "$(count_logged "$run" 'auth: challenge \(no credentials\)')" = 1 ] || fail "$run: challenges"
    # MD5 in the TEV's form (nine digits, the algorithm quoted), SHA-256 in RFC 7616's (eight, a token)
    algorithm='"MD5"' digits=32 count=000000001
    if [ "${answered[$run]:-MD5}" = SHA-256 ]; then algorithm=SHA-256 digits=64 count=00000001; fi
    [ "$(count_logged "$run" "auth: accepted, user \"admin\" nc ${count%1}[123]\$")" = 3 ] ||
        fail "$run: three requests with accepted credentials expected"
    expect_logged "$run" 'Authorization: Digest username="admin",realm="TEV Admin",nonce="[0-9a-f]+",uri="/admin/advanced",algorithm='"$algorithm"',response="[0-9a-f]{'"$digits"'}",qop=auth,nc='"$count"',cnonce="[0-9a-f]+"$'
done
[ "$(count_logged sha-first 'auth: the answer names algorithm "SHA-256"$')" = 3 ] || fail "sha-first: SHA-256 answers"
echo ok
