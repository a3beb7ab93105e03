#!/usr/bin/env bash
# The device's digest rules, driven by Authorization headers this test computes itself from
# RFC 2617 with md5sum: md5-sess over the raw first hash by default (hex only when configured), nc
# of any width, auth-int, qop lists, opaque, algorithm absent, unquoted or not the one named, nonce expiry by use
# count and by age (401 with a new nonce and stale=true), wrong credentials (401, same nonce), and
# a uri that is not the request's (400), and a cnonce brought back with a new nonce when the device
# refuses reused client nonces.
source "$(dirname "$0")/device_test_lib.sh"
enter_namespace

md5hex() { printf '%s' "$1" | md5sum | cut -c1-32; }

# response USER REALM PASSWORD ALGORITHM SESS_FORM NONCE NC CNONCE QOP URI
response() {
    local ha1 ha2 a2
    ha1=$(md5hex "$1:$2:$3")
    if [ "$4" = MD5-sess ]; then
        if [ "$5" = raw ]; then
            ha1=$({ printf '%b' "$(sed 's/../\\x&/g' <<<"$ha1")"; printf ':%s:%s' "$6" "$8"; } | md5sum | cut -c1-32)
        else
            ha1=$(md5hex "$ha1:$6:$8")
        fi
    fi
    a2="GET:${10}"
    [ "$9" = auth-int ] && a2="$a2:$(md5hex '')"
    ha2=$(md5hex "$a2")
    if [ -z "$9" ]; then md5hex "$ha1:$6:$ha2"; else md5hex "$ha1:$6:$7:$8:$9:$ha2"; fi
}

# ask PORT PATH HEADER: sends the Authorization header, prints the status code; the answer's head
# stays in answer.txt.
ask() {
    curl -s -D answer.txt -o /dev/null -w '%{http_code}' --max-time 10 -H "Authorization: $3" "http://127.0.0.2:$1$2" || true
}

# wait_until START SECONDS: returns once SECONDS have passed since START (an $EPOCHREALTIME).
wait_until() {
    while awk -v start="$1" -v wait="$2" -v now="$EPOCHREALTIME" 'BEGIN { exit !(now - start < wait) }'; do
        sleep 0.1
    done
}

challenge_nonce() { curl -s -D - -o /dev/null "http://127.0.0.2:$1/admin/advanced" | sed -n 's/.*[ ,]nonce="\([^"]*\)".*/\1/p'; }
answer_nonce() { sed -n 's/.*[ ,]nonce="\([^"]*\)".*/\1/p' answer.txt; }

# header USER PASSWORD ALG_SENT ALG_HASH SESS_FORM NONCE NC CNONCE QOP URI [OPAQUE]: in the
# upgrader's layout: no blanks, qop and nc bare, algorithm always present.
header() {
    local h r
    r=$(response "$1" TEV "$2" "$4" "$5" "$6" "$7" "$8" "$9" "${10}")
    h="Digest username=\"$1\",realm=\"TEV\",nonce=\"$6\",uri=\"${10}\",algorithm=\"$3\",response=\"$r\""
    [ -n "${11:-}" ] && h="$h,opaque=\"${11}\""
    [ -n "$9" ] && h="$h,qop=$9,nc=$7,cnonce=\"$8\""
    echo "$h"
}

P=/admin/advanced

# --- md5-sess, raw form by default, qop auth, nonce good for two requests
start_device sess --address 127.0.0.2 --port 80 --user admin --password pw --algorithm MD5-sess --nonce-uses 2
n1=$(challenge_nonce 80)
[ ${#n1} = 32 ] || fail "nonce '$n1'"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n1" 000000001 1a2b auth $P)")" 200 "raw md5-sess, nine-digit nc"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess hex "$n1" 000000002 1a2b auth $P)")" 401 "hex md5-sess by default"
expect_eq "$(answer_nonce)" "$n1" "refusal repeats the nonce"
grep -q 'stale' answer.txt && fail "a plain refusal is not stale"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n1" 2 77 auth $P)")" 200 "one-digit nc"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n1" 000000003 77 auth $P)")" 401 "third use of a two-use nonce"
n2=$(answer_nonce)
[ -n "$n2" ] && [ "$n2" != "$n1" ] || fail "expired nonce not replaced ('$n2')"
grep -q 'stale=true' answer.txt || fail "right credentials on an expired nonce: stale=true"
grep -q "auth: nonce \"$n1\" expired, new nonce \"$n2\"" sess.log || fail "expiry not logged"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n2" 000000001 beef auth $P)")" 200 "new nonce"
expect_eq "$(ask 80 $P "$(header admin nope MD5-sess MD5-sess raw "$n2" 000000002 beef auth $P)")" 401 "wrong password"
expect_eq "$(answer_nonce)" "$n2" "wrong password keeps the nonce"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n2" 000000002 beef auth /admin/other)")" 400 "uri not the request's"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n2" 000000002 beef auth,auth-int $P)")" 401 "qop list as answer"
grep -q 'qop "auth,auth-int" is not one of "auth"' sess.log || fail "qop list refusal not logged"
expect_eq "$(ask 80 $P "$(header admin pw MD5-sess MD5-sess raw "$n2" 00000000g beef auth $P)")" 400 "nc not hexadecimal"

# --- auth-int, opaque, a given first nonce that lives 8 s: long enough for the start and three
# requests on a loaded machine; the fourth request goes once that time has surely passed.
start_device int --address 127.0.0.2 --port 81 --user admin --password pw --qop auth-int --opaque op1 \
    --nonce fixed-nonce-1 --nonce-lifetime 8
issued_by=$EPOCHREALTIME  # the device issues its first nonce before it is ready
curl -s -D int-challenge.txt -o /dev/null http://127.0.0.2:81$P
grep -q 'WWW-Authenticate: Digest realm="TEV", nonce="fixed-nonce-1", qop="auth-int", algorithm="MD5", opaque="op1"' \
    int-challenge.txt || fail "auth-int challenge: $(cat int-challenge.txt)"
expect_eq "$(ask 81 $P "$(header admin pw MD5 MD5 raw fixed-nonce-1 000000001 c1 auth-int $P op1)")" 200 "auth-int"
expect_eq "$(ask 81 $P "$(header admin pw MD5 MD5 raw fixed-nonce-1 000000002 c1 auth $P op1)")" 401 "auth when auth-int offered"
expect_eq "$(ask 81 $P "$(header admin pw MD5 MD5 raw fixed-nonce-1 000000002 c1 auth-int $P)")" 401 "opaque missing"
expect_eq "$(ask 81 $P "$(header admin pw '' MD5 raw fixed-nonce-1 000000002 c1 auth-int $P op1)")" 401 \
    "an empty algorithm where the challenge named MD5 (Apache refuses it)"
wait_until "$issued_by" 8.1
expect_eq "$(ask 81 $P "$(header admin pw MD5 MD5 raw fixed-nonce-1 000000003 c1 auth-int $P op1)")" 401 "nonce past its lifetime"
[ "$(answer_nonce)" != fixed-nonce-1 ] && grep -q 'stale=true' answer.txt || fail "lifetime expiry: new nonce, stale"

# --- no qop, no algorithm: RFC 2069 style response; the upgrader's empty algorithm means MD5
start_device plain --address 127.0.0.2 --port 82 --user admin --password pw --qop none --algorithm none
curl -s -D plain-challenge.txt -o /dev/null http://127.0.0.2:82$P
grep -q 'qop=\|algorithm=' plain-challenge.txt && fail "challenge without qop and algorithm: $(cat plain-challenge.txt)"
n=$(sed -n 's/.*nonce="\([^"]*\)".*/\1/p' plain-challenge.txt)
expect_eq "$(ask 82 $P "$(header admin pw '' MD5 raw "$n" '' '' '' $P)")" 200 "no qop"
expect_eq "$(ask 82 $P "$(header admin pw MD5 MD5 raw "$n" '' '' '' $P)")" 200 "MD5 named where the challenge named none"
expect_eq "$(ask 82 $P "$(header admin pw '' MD5 raw "$n" 000000001 c1 auth $P)")" 401 "qop not offered"

# --- qop list, unquoted algorithm, md5-sess in either form
start_device list --address 127.0.0.2 --port 83 --user admin --password pw --qop auth,auth-int \
    --algorithm MD5-sess --algorithm-unquoted --sess-form either
curl -s -D list-challenge.txt -o /dev/null http://127.0.0.2:83$P
grep -q $'qop="auth,auth-int", algorithm=MD5-sess\r$' list-challenge.txt || fail "list challenge: $(cat list-challenge.txt)"
n=$(sed -n 's/.*nonce="\([^"]*\)".*/\1/p' list-challenge.txt)
expect_eq "$(ask 83 $P "$(header admin pw MD5-sess MD5-sess raw "$n" 000000001 9 auth-int $P)")" 200 "auth-int from list, raw"
expect_eq "$(ask 83 $P "$(header admin pw MD5-sess MD5-sess hex "$n" 000000002 9 auth $P)")" 200 "auth from list, hex"
expect_eq "$(ask 83 $P "$(header admin pw '' MD5 raw "$n" 000000003 9 auth $P)")" 401 "empty algorithm against MD5-sess"

# --- a client nonce brought to a second server nonce is refused; under one nonce it stays good
start_device replay --address 127.0.0.2 --port 84 --user admin --password pw --nonce-uses 2 --refuse-reused-cnonce
n1=$(challenge_nonce 84)
expect_eq "$(ask 84 $P "$(header admin pw MD5 MD5 raw "$n1" 000000001 c1 auth $P)")" 200 "first cnonce"
expect_eq "$(ask 84 $P "$(header admin pw MD5 MD5 raw "$n1" 000000002 c1 auth $P)")" 200 "same cnonce, same nonce, next nc"
expect_eq "$(ask 84 $P "$(header admin pw MD5 MD5 raw "$n1" 000000003 c1 auth $P)")" 401 "nonce used up"
n2=$(answer_nonce)
expect_eq "$(ask 84 $P "$(header admin pw MD5 MD5 raw "$n2" 000000001 c1 auth $P)")" 401 "cnonce of the old nonce"
expect_eq "$(answer_nonce)" "$n2" "the replay refusal repeats the nonce"
grep -q 'stale' answer.txt && fail "a replayed cnonce is no stale nonce"
grep -q "auth: refused, cnonce \"c1\" was used with nonce \"$n1\"" replay.log || fail "replay refusal not logged"
expect_eq "$(ask 84 $P "$(header admin pw MD5 MD5 raw "$n2" 000000002 c2 auth $P)")" 200 "a fresh cnonce"
echo ok
