#!/usr/bin/env bash
# --help lists every option that tests and demonstrations script against; bad command lines are
# refused with status 2 before anything is bound.
source "$(dirname "$0")/device_test_lib.sh"

help=$("$DEVICE" --help) || fail "--help failed"
for option in --address --port --allow-peer --model --product-name --mac --serial --software-version \
    --hardware-version --markup --user --password --realm --qop --algorithm --algorithm-unquoted --opaque \
    --nonce --nonce-uses --nonce-lifetime --sess-form --flash-time --image-file --log --tftp-timeout \
    --tftp-retries --exit-after-upgrade --quiet --seed --drop-data --drop-ack --duplicate-ack \
    --ack-other-port --error-instead-of-ack --never-ack-oack --keep-connection-open --never-return --never-answer \
    --report-version --report-version-case --web-delay --late-ack --tftp-delay --page-padding \
    --tftp-source --pause-after-block --pause-time --drop-last-ack --ignore-repeated-last-block \
    --keep-alive --idle-timeout --header-case --http10 --basic-first --challenges --tftp-no-options --help; do
    grep -qE -- "^  $option( |$)" <<<"$help" || fail "--help does not list $option"
done

refused() {
    local status=0
    "$DEVICE" "$@" >/dev/null 2>"$WORK/err" || status=$?
    [ "$status" = 2 ] || fail "accepted: $* (status $status)"
    [ -s "$WORK/err" ] || fail "no message for: $*"
}
refused --port 8080                                  # no address
refused --address 127.0.0.300
refused --address 127.0.0.2 --port 0
refused --address 127.0.0.2 --drop-ack 1.5
refused --address 127.0.0.2 --qop auth-conf
refused --address 127.0.0.2 --algorithm SHA-512-256
refused --address 127.0.0.2 --challenges SHA-256,,MD5
refused --address 127.0.0.2 --challenges 'SHA-256, MD5'
refused --address 127.0.0.2 --realm 'a"b'
refused --address 127.0.0.2 --model phone
refused --address 127.0.0.2 --flash-time -1
refused --address 127.0.0.2 --report-version-case title
refused --address 127.0.0.2 --tftp-timeout
refused --address 127.0.0.2 --bogus
refused --address 127.0.0.2 --tftp-source 0.0.0.0
refused --address 127.0.0.2 --pause-after-block 0
refused --address 127.0.0.2 --pause-time -3
refused --address 127.0.0.2 --keep-alive forever
refused --address 127.0.0.2 --header-case upper
refused --address 127.0.0.2 --basic-first yes
[ ! -e "$WORK/tev-device.log" ] || fail "a refused command line wrote a log"
echo ok
