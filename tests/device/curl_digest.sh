#!/usr/bin/env bash
# curl, a real digest client, against the device: qop auth with MD5 and with MD5-sess in the form
# curl computes (hex first hash); wrong credentials get 401 with the same nonce; the md5-sess form
# the device expects by default (raw first hash) is not curl's.
source "$(dirname "$0")/device_test_lib.sh"
enter_namespace

URL=http://127.0.0.2
start_device md5 --address 127.0.0.2 --port 80 --user admin --password 's3cr3t!' --realm TEV-4400 \
    --serial TV0001 --mac 00:1B:5A:AB:CD:EF --software-version '3.1.8(a)'
start_device sess --address 127.0.0.2 --port 81 --user admin --password 's3cr3t!' --algorithm MD5-sess \
    --sess-form hex --opaque 5ccc069c403ebaf9
start_device sess_raw --address 127.0.0.2 --port 82 --user admin --password 's3cr3t!' --algorithm MD5-sess
start_device open --address 127.0.0.2 --port 83 --model handset
start_device sha --address 127.0.0.2 --port 84 --user admin --password 's3cr3t!' --challenges SHA-256,MD5
start_device sha_sess --address 127.0.0.2 --port 85 --user admin --password 's3cr3t!' --algorithm SHA-256-sess

# MD5: the page with all five labels, each value in the cell after its label.
curl -s --digest -u 'admin:s3cr3t!' -o page.html -w '%{http_code}' "$URL/admin/advanced" >code || true
expect_eq "$(cat code)" 200 "MD5 with right credentials"
for pair in 'Product Name:|TEV-4400' 'MAC Address:|00:1B:5A:AB:CD:EF' 'Software Version:|3.1.8(a)' \
    'Hardware Version:|Rev. B' 'Serial Number:|TV0001'; do
    label=${pair%%|*} value=${pair#*|}
    grep -qF "$label</td><td><b>$value</b></td>" page.html || fail "page lacks $label $value"
done
grep -q 'auth: accepted, user "admin" nc 00000001' md5.log || fail "acceptance not logged"
grep -q 'http: Authorization: Digest username="admin"' md5.log || fail "Authorization line not logged"

# Wrong password: 401 again, and the refusal repeats the nonce of the challenge.
curl -s -i --digest -u admin:wrong "$URL/admin/advanced" >wrong.txt || true
[ "$(count '^HTTP/1.1 401' wrong.txt)" = 2 ] || fail "wrong password: expected two 401 answers"
nonces=$(grep -o 'nonce="[^"]*"' wrong.txt | sort -u | wc -l)
expect_eq "$nonces" 1 "the refusal must repeat the challenge's nonce"
grep -q 'WWW-Authenticate: Digest realm="TEV-4400", nonce="[0-9a-f]\{32\}", qop="auth", algorithm="MD5"' wrong.txt ||
    fail "challenge header"
grep -q 'auth: refused, response does not match' md5.log || fail "refusal not logged"
expect_eq "$(http_code "$URL/admin/advanced" --digest -u 'other:s3cr3t!')" 401 "unknown user"
expect_eq "$(http_code "$URL/admin/advanced")" 401 "no credentials"

# MD5-sess with opaque, the device configured for curl's form.
expect_eq "$(http_code "$URL:81/admin/advanced" --digest -u 'admin:s3cr3t!')" 200 "MD5-sess (hex form)"
expect_eq "$(http_code "$URL:81/admin/advanced" --digest -u 'admin:s3cr3t')" 401 "MD5-sess wrong password"
grep -q 'algorithm=MD5-sess' sess.log || fail "curl did not answer with MD5-sess"
grep -q 'opaque="5ccc069c403ebaf9"' sess.log || fail "opaque not sent back"

# By default md5-sess follows the upgrader's raw form, which curl does not compute.
expect_eq "$(http_code "$URL:82/admin/advanced" --digest -u 'admin:s3cr3t!')" 401 "MD5-sess raw form refuses curl"

# RFC 7616: one challenge line per algorithm, SHA-256 first; curl's SHA-256 and SHA-256-sess
# answers (the session form over the hexadecimal first hash) pass the device's check.
curl -s -D sha.txt -o /dev/null "$URL:84/admin/advanced" || true
grep -A1 'WWW-Authenticate: Digest realm="TEV", nonce="[0-9a-f]*", qop="auth", algorithm="SHA-256"' sha.txt |
    grep -q 'WWW-Authenticate: Digest realm="TEV", nonce="[0-9a-f]*", qop="auth", algorithm="MD5"' ||
    fail "two challenges, SHA-256 first"
expect_eq "$(http_code "$URL:85/admin/advanced" --digest -u 'admin:s3cr3t!')" 200 "SHA-256-sess"
expect_eq "$(http_code "$URL:85/admin/advanced" --digest -u 'admin:s3cr3t')" 401 "SHA-256-sess wrong password"
grep -q 'auth: the answer names algorithm "SHA-256-sess"' sha_sess.log || fail "curl did not answer with SHA-256-sess"

# Without --user no credentials are asked; the handset page wraps values in <font>.
curl -s -o handset.html "$URL:83/admin/advanced"
grep -qF 'Product Name:</td><td><font color="#000080">TEV-610</font></td>' handset.html || fail "handset page"
echo ok
