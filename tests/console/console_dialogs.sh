#!/usr/bin/env bash
# The console front end as a script sees it, through the dialog gallery: one case per call.
#   console_dialogs.sh GALLERY CASE [EXPECTED-FILE]
set -uo pipefail
gallery=$1 case=$2 expected=${3:-}
source "$(dirname "$0")/../lib/fail.sh"
out=$(mktemp)
FAIL_SHOWS=("$out")
FAIL_LINES=
trap 'rm -f "$out"' EXIT
source "$(dirname "$0")/../lib/sanitizer_statuses.sh"

has() { grep -qF -- "$1" "$out" || fail "missing: $1"; }
lacks() { ! grep -qF -- "$1" "$out" || fail "unexpected: $1"; }
count() { [ "$(grep -cF -- "$1" "$out")" = "$2" ] || fail "want $2 lines with: $1"; }

# start_typing COMMAND...: runs COMMAND in the background with its input from a pipe that stays
# open on descriptor 3 until finish_typing; sets PID.
start_typing() {
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    "$@" <"$fifo" >"$out" 2>&1 &
    PID=$!
    exec 3>"$fifo"
    rm -f "$fifo"
}
# finish_typing [STATUS]: ends the input and waits for the command; fails unless it ends with
# STATUS (default 0).
finish_typing() {
    exec 3>&-
    local status=0
    wait "$PID" || status=$?
    [ "$status" = "${1:-0}" ] || fail "status $status, want ${1:-0}"
    ! sanitizer_report "$out" || fail "a sanitizer report"
}
# wait_shown TEXT: waits (20 s at most) until the output shows TEXT, as a person waits for the
# question before answering it.
wait_shown() {
    local deadline=$((SECONDS + 20))
    until grep -qF -- "$1" "$out"; do
        kill -0 "$PID" 2>/dev/null || grep -qF -- "$1" "$out" || fail "ended without showing: $1"
        [ "$SECONDS" -lt "$deadline" ] || fail "not shown after 20 s: $1"
        sleep 0.05
    done
}
# wait_echo off|on: waits (20 s at most) until the terminal the command reads from no longer
# echoes, or echoes again.
wait_echo() {
    local deadline=$((SECONDS + 20)) process=$PID child terminal= sign=-
    [ "$1" = on ] && sign=
    while child=$(pgrep -P "$process" | head -n1) && [ -n "$child" ]; do process=$child; done
    terminal=$(readlink "/proc/$process/fd/0") || fail "no terminal for process $process"
    until stty -a -F "$terminal" | grep -qE "(^| )${sign}echo( |\$)"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "echo not $1 after 20 s"
        sleep 0.05
    done
}

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
    start_typing "$gallery" 105 --device-ip-text 10.1.0.123
    wait_shown "Cancel: type cancel and press Enter, or press Ctrl-C."
    echo cancel >&3
    wait_shown "Upgrade Failed: User Abort"
    # The User Abort ends the program as every failure does, with status 1.
    finish_typing 1
    has "== Connecting with TEV@10.1.0.123 =="
    has "Cancel: type cancel and press Enter, or press Ctrl-C."
    has "== TEV Firwmare Upgrade Error =="
    has "Upgrade Failed: User Abort"
    lacks "outcome:"
    ;;
modeless-progress)
    "$gallery" 110 --title "Updating Target Firmware to TEV@10.1.0.123" --range 937 --run-ms 400 \
        --hold-ms 500 >"$out" </dev/null || fail "status $?"
    # The bar follows the wall clock, so a loaded machine may skip steps: a line for some tens of
    # percent, rising, never twice the same, the last at 100 %.
    steps=$(sed -n 's/^Updating Target Firmware to TEV@10\.1\.0\.123: \([0-9]*\)%$/\1/p' "$out" | tr '\n' ' ')
    [ "$(grep -c '^Updating Target Firmware' "$out")" = "$(wc -w <<<"$steps")" ] || fail "a malformed progress line"
    awk -v steps="$steps" 'BEGIN { n = split(steps, p, " "); last = -1
        for (i = 1; i <= n; i++) { if (p[i] % 10 != 0 || p[i] <= last) exit 1; last = p[i] }
        exit !(n >= 1 && last == 100) }' || fail "progress lines at $steps"
    has "outcome: closed"
    ;;
password-hidden-on-terminal)
    # On a terminal the password is not echoed. The lines come one by one, each once its
    # question is there, the password once the terminal has stopped echoing.
    start_typing script -qefc "$gallery 104" /dev/null
    wait_shown "User [admin]: "
    printf 'operator\r' >&3
    wait_shown "Password: "
    wait_echo off
    printf 'pa55word\r' >&3
    wait_shown "OK/Cancel [OK]: "
    # The echo is back for the questions after the password.
    wait_echo on
    printf '\r' >&3
    wait_shown "outcome:"
    finish_typing
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
