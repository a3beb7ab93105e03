#!/usr/bin/env bash
# Whole upgrades against Apache httpd as the device's web server: mod_auth_digest in front of two
# CGI scripts that stand in for the status page and the upgrade command (the command fetches the
# image with atftp, after which the page reports its version). Apache writes the algorithm and
# qop of its challenge as bare tokens and refuses an answer whose algorithm differs. One server
# closes each connection after its answer; the other keeps connections open (KeepAlive On, 30 s),
# and its upgrade must not wait for that time-out; its atftp also asks for a block size of 1468,
# which the option acknowledgement leaves out (exactly tsize and timeout 5), so the blocks stay 512
# bytes. Each device keeps the image byte for byte.
source "$(dirname "$0")/e2e_lib.sh"

size=$(image_size "$TARGET_IMAGE")
version=$(image_version "$TARGET_IMAGE")
REALM="TEV Admin"
PASSWORD="apache pw"

APACHE_DIR=$(mktemp -d /tmp/tev-apache.XXXXXX)
chmod 755 "$APACHE_DIR"
trap 'stop_started; rm -rf "$APACHE_DIR"' EXIT

# start_apache NAME ADDRESS KEEPALIVE [ATFTP-OPTIONS]: Apache on ADDRESS:80 with its files in
# APACHE_DIR/NAME; the CGI scripts keep what the device would (the orders, the image, the version,
# atftp's output) in NAME/state.
start_apache() {
    local name=$1 address=$2 keepalive=$3 more=${4:-} dir=$APACHE_DIR/$1 m=/usr/lib/apache2/modules
    mkdir -p "$dir/cgi" "$dir/state" "$dir/htdocs"
    chmod 777 "$dir/state"
    echo "3.1.8(a)" >"$dir/state/version"
    printf 'admin:%s:%s\n' "$REALM" "$(printf 'admin:%s:%s' "$REALM" "$PASSWORD" | md5sum | cut -d' ' -f1)" \
        >"$dir/digest-users"
    cat >"$dir/cgi/advanced" <<SCRIPT
#!/bin/sh
row() { printf '<tr><td class="label">%s</td><td><b>%s</b></td></tr>\r\n' "\$1" "\$2"; }
printf 'Content-Type: text/html\r\n\r\n'
printf '<html><head><title>TEV-4400 Status</title></head>\r\n<body><table border="0">\r\n'
row "Product Name:" "TEV-4400"
row "MAC Address:" "00:1B:5A:12:34:56"
row "Software Version:" "\$(cat "$dir/state/version")"
row "Hardware Version:" "Rev. B"
row "Serial Number:" "TV12345678"
printf '</table>\r\n</body></html>\r\n'
SCRIPT
    cat >"$dir/cgi/upgrade" <<SCRIPT
#!/bin/sh
# QUERY_STRING is tftp://A.B.C.D:PORT/NAME: fetch NAME from there, then report its version.
state=$dir/state
order=\${QUERY_STRING#tftp://}
server=\${order%%/*}
echo "\$QUERY_STRING" >>"\$state/orders"
setsid sh -c '
    atftp --option "tsize 0" --option "timeout 5" $more -g -r "\$3" -l "\$1/image.bin" "\$2" "\$4" >"\$1/atftp.log" 2>&1 &&
        dd if="\$1/image.bin" bs=1 skip=92 count=36 status=none | tr "\\\\000" "\\\\n" | head -n1 >"\$1/version.new" &&
        mv "\$1/version.new" "\$1/version" && echo fetched >>"\$1/fetches"
' sh "\$state" "\${server%:*}" "/\${order#*/}" "\${server##*:}" </dev/null >/dev/null 2>&1 &
printf 'Content-Type: text/html\r\n\r\n<html><body>Firmware upgrade started.</body></html>\r\n'
SCRIPT
    chmod 755 "$dir/cgi/advanced" "$dir/cgi/upgrade"
    cat >"$dir/httpd.conf" <<CONF
ServerRoot "$dir"
ServerName $address
Listen $address:80
PidFile "$dir/httpd.pid"
DefaultRuntimeDir "$dir"
ErrorLog "$dir/error.log"
LogLevel notice auth_digest:info
LoadModule mpm_prefork_module $m/mod_mpm_prefork.so
LoadModule authn_core_module $m/mod_authn_core.so
LoadModule authn_file_module $m/mod_authn_file.so
LoadModule authz_core_module $m/mod_authz_core.so
LoadModule authz_user_module $m/mod_authz_user.so
LoadModule auth_digest_module $m/mod_auth_digest.so
LoadModule alias_module $m/mod_alias.so
LoadModule cgi_module $m/mod_cgi.so
User nobody
Group nogroup
StartServers 2
KeepAlive $keepalive
KeepAliveTimeout 30
LogFormat "%h \"%r\" %>s %b %Dus" timed
CustomLog "$dir/access.log" timed
DocumentRoot "$dir/htdocs"
ScriptAlias /admin/advanced "$dir/cgi/advanced"
ScriptAlias /admin/upgrade "$dir/cgi/upgrade"
<Location "/admin/">
    AuthType Digest
    AuthName "$REALM"
    AuthDigestProvider file
    AuthUserFile "$dir/digest-users"
    Require valid-user
</Location>
CONF
    # A session of its own: on its way out Apache ends its whole process group.
    setsid /usr/sbin/apache2 -f "$dir/httpd.conf" -DFOREGROUND >"$dir/stdout" 2>&1 &
    STARTED_PIDS+=($!)
    has_line_within "$dir/error.log" 20 -F "resuming normal operations" || {
        cat "$dir/stdout" "$dir/error.log" >&2 2>/dev/null
        fail "$name: Apache did not start"
    }
}

start_apache closing 127.0.0.2 Off
start_apache keeping 127.0.0.3 On '--option "blksize 1468" --trace' 
# The challenge as Apache writes it: algorithm and qop as bare tokens.
challenge=$(curl -s -D - -o /dev/null --max-time 10 http://127.0.0.2/admin/probe | grep -i '^WWW-Authenticate:')
grep -q 'algorithm=MD5, qop="auth"' <<<"$challenge" || fail "Apache's challenge: $challenge"
# continue; address; first local address; OK; user admin; password; OK; Upgrade; OK
start_upgrade closing "$UPGRADE" "continue\n127.0.0.2\n\n\n\n$PASSWORD\n\n\n\n"
start_upgrade keeping "$UPGRADE" "continue\n127.0.0.3\n\n\n\n$PASSWORD\n\n\n\n"
finish_upgrade closing
finish_upgrade keeping

for run in closing keeping; do
    dir=$APACHE_DIR/$run
    expect_in_order $run "TEV IP Address: 127.0.0." "== Enter Password Information ==" \
        "== Confirm Upgrade to Ver. $version ==" "Software Version: 3.1.8(a)" \
        "Uploading Target Firmware to TEV@127.0.0." "$size/$size Bytes: 100%" \
        "Upgrade Successful! ==" "$version"
    [ "$(count_seen $run 'Enter Password Information')" = 1 ] || fail "$run: password asked more than once"
    cmp -s "$dir/state/image.bin" "$TARGET_IMAGE" || fail "$run: the image Apache's script fetched is not the target"
    [ "$(wc -l <"$dir/state/orders")" = 1 ] || fail "$run: $(wc -l <"$dir/state/orders") upgrade commands"
    grep -q '^tftp://127\.0\.0\.1:[0-9]*/tev[0-9a-f]*\.bi1$' "$dir/state/orders" || fail "$run: order $(cat "$dir/state/orders")"
    ! grep -q 'unknown algorithm\|user admin: password mismatch\|nonce mismatch' "$dir/error.log" ||
        fail "$run: Apache refused an answer: $(grep -m1 'auth_digest' "$dir/error.log")"
    # one refusal without credentials; the query, the command and the query after the flash pass
    [ "$(grep -c '"GET /admin/advanced HTTP/1.1" 401' "$dir/access.log")" = 1 ] || fail "$run: 401s: $(cat "$dir/access.log")"
    [ "$(grep -c '" 200 ' "$dir/access.log")" -ge 3 ] || fail "$run: too few answered requests: $(cat "$dir/access.log")"
    expect_seconds_between "$run: whole upgrade" "$(head -1 $run.times | cut -d' ' -f1)" \
        "$(time_of $run.times 'Upgrade Successful!')" 29.0 45
done
# The request asked for blksize too: the acknowledgement still names exactly tsize and timeout 5
# (atftp ends its list of options with ", " and two backspaces), and every block is 512 bytes.
cp "$APACHE_DIR/keeping/state/atftp.log" keeping-atftp.log
trace=keeping-atftp.log
grep -qF 'blksize: 1468>>' "$trace" || fail "keeping: atftp did not ask for blksize: $(head -5 "$trace")"
[ "$(grep -c '^received OACK' "$trace")" = 1 ] || fail "keeping: OACKs: $(grep 'OACK' "$trace")"
[ "$(grep '^received OACK' "$trace" | tr -d '\b')" = "received OACK <tsize: $size, timeout: 5, >" ] ||
    fail "keeping: $(grep -m1 'received OACK' "$trace")"
# Each block as atftp saw it (a block sent again shows twice): 512 bytes but the last.
blocks=$(awk -v last=$((size / 512 + 1)) -v tail_size=$((size % 512)) '
    /^received [0-9]+\. DATA <block: / {
        split($0, f, /[:,>] */); block = f[2] + 0; bytes = f[3]; sub(/size /, "", bytes)
        if (bytes + 0 != (block == last ? tail_size : 512)) { print "block " block ": " bytes; exit }
        seen[block] = 1
    }
    END { n = 0; for (b in seen) n++; if (n != last) print n " blocks of " last }' "$trace")
[ -z "$blocks" ] || fail "keeping: atftp's blocks: $blocks"
echo ok
