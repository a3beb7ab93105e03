#!/usr/bin/env bash
# The console front end as a script sees it, through the dialog gallery: one case per call.
#   console_dialogs.sh GALLERY CASE [EXPECTED-FILE]
set -uo pipefail
gallery=$1 case=$2 expected=${3:-}
fail() { echo "FAIL: $*"; echo "--- output:"; cat "$out"; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT

has() { grep -qF -- "$1" "$out" || fail "missing: $1"; }
lacks() { ! grep -qF -- "$1" "$out" || fail "unexpected: $1"; }
count() { [ "$(grep -cF -- "$1" "$out")" = "$2" ] || fail "want $2 lines with: $1"; }

case $case in
warning-transcript)
    # Enter alone takes Cancel; title and text come out verbatim.
    "$gallery" 139 --label TEV-4400 >"$out" <<<"" || fail "status $?"
    diff -u "$expected" "$out" || fail "transcript differs"
    ;;
bad-address-asks-again)
    "$gallery" 101 --local 192.168.0.10,10.1.0.5 >"$out" <<'INPUT' || fail "status $?"
1.22.333


(dismiss the box)
10.1.0.123
2

INPUT
    count "Invalid IP Address" 1
    has "TEV IP Address: 1.22.333"
    has "OK [OK]: (dismiss the box)"
    has "TEV IP Address [1.22.333]: 10.1.0.123"
    has "Your IP Address (1: 192.168.0.10, 2: 10.1.0.5) [1]: 2"
    has "outcome: end code 1"
    has "device_ip_text: 10.1.0.123"
    has "local_ip: 0a010005"
    grep -qE '^tftp_file_name: /tev[0-9a-f]{1,4}\.bi1$' "$out" || fail "file name"
    ;;
end-of-input-cancels)
    for dialog in 139 101 305 104 103 304 111; do
        "$gallery" $dialog --stage 1 >"$out" </dev/null || fail "dialog $dialog: status $?"
        has "outcome: end code 0"
        count "== " 1
        lacks "Upgrade Failed"
    done
    ;;
typed-cancel)
    printf '10.1.0.123\n\ncancel\n' | "$gallery" 101 >"$out" || fail "status $?"
    has "OK/Cancel [OK]: cancel"
    has "outcome: end code 0"
    has "device_ip: 00000000"
    count "== " 1
    ;;
modeless-cancel)
    # A line typed while the dialog runs; the box then waits for a line, and the end of input
    # dismisses it.
    (sleep 0.5; echo cancel) | "$gallery" 105 --device-ip-text 10.1.0.123 >"$out" || fail "status $?"
    has "== Connecting with TEV@10.1.0.123 =="
    has "Cancel: type cancel and press Enter, or press Ctrl-C."
    has "== TEV Firwmare Upgrade Error =="
    has "Upgrade Failed: User Abort"
    lacks "outcome:"
    ;;
modeless-progress)
    "$gallery" 110 --title "Updating Target Firmware to TEV@10.1.0.123" --range 937 --run-ms 400 \
        --hold-ms 500 >"$out" </dev/null || fail "status $?"
    count "Updating Target Firmware to TEV@10.1.0.123: " 11
    has "Updating Target Firmware to TEV@10.1.0.123: 0%"
    has "Updating Target Firmware to TEV@10.1.0.123: 100%"
    has "outcome: closed"
    ;;
password-hidden-on-terminal)
    # On a terminal the password is not echoed. The lines come one by one, each after its
    # question has had time to appear, as a person would type them.
    (sleep 1; printf 'operator\r'; sleep 1; printf 'pa55word\r'; sleep 1; printf '\r'; sleep 1) |
        script -qefc "$gallery 104" /dev/null >"$out" || fail "status $?"
    has "User [admin]: operator"
    has "password: pa55word"
    [ "$(grep -c pa55word "$out")" = 1 ] || fail "the password was echoed"
    ;;
*)
    echo "unknown case $case"
    exit 2
    ;;
esac
echo "ok $case"
