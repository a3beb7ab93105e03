#!/usr/bin/env bash
# The console program driven by options, as a script runs it: whole upgrades with standard input
# closed (the password from a file, and from TEV_PASSWORD with the events on standard output), the
# runs that must end with status 1 without asking (a wrong password, none given, a local address
# this computer lacks, no device, a device that never ends its answer past --deadline, a device
# that takes the status request and never answers, which a check and an unattended run give up on
# after 30 s as "no answer"), a usage error (2), and the person's Cancel (1). The event streams are
# read line by line with jq.
source "$(dirname "$0")/e2e_lib.sh"
UPGRADE_TIME_LIMIT=120

size=$(image_size "$TARGET_IMAGE")
version=$(image_version "$TARGET_IMAGE")

expect_error() { grep -qF -- "$2" "$1.err" || fail "$1: '$2' not on standard error"; }

# events_in_order FILE: the events' names, one a line, with runs of upload and flash-wait as one;
# fails unless every line is one JSON object with "event" and a growing "ms".
events_in_order() {
    jq -e -s 'length > 0 and all(.[]; (.event | type == "string") and (.ms | type == "number"))
              and ([.[].ms] == ([.[].ms] | sort))' "$1" >/dev/null || fail "$1: not JSON lines of events"
    jq -r '.event' "$1" | uniq
}

printf 'pw one\n' >pw.txt
printf 'wrong\n' >wrong.txt
start_device whole 127.0.0.2 --flash-time 2 --user admin --password 'pw one'
start_device quiet 127.0.0.3 --flash-time 2 --user tech --password 'pw:two'
start_device locked 127.0.0.4 --flash-time 1 --user admin --password 'pw one'
start_device open 127.0.0.5 --flash-time 1
start_device held 127.0.0.6 --keep-connection-open
start_device mute 127.0.0.7 --never-answer

# The two whole upgrades and the two runs against the silent device side by side; the short runs
# meanwhile.
run_with_options mute_check --check --device 127.0.0.7 --events mute_check.jsonl
run_with_options mute_yes --yes --device 127.0.0.7 --events mute_yes.jsonl
run_with_options whole --device 127.0.0.2 --user admin --password-file pw.txt --yes --events whole.jsonl
TEV_PASSWORD=pw:two run_with_options quiet --device=127.0.0.3 --user tech --yes --quiet --events -
run_with_options wrong --device 127.0.0.4 --password-file wrong.txt --yes --events wrong.jsonl
finish_upgrade wrong 1
run_with_options none --yes --device 127.0.0.4
run_with_options elsewhere --yes --device 127.0.0.5 --local 10.9.9.9
run_with_options nobody --yes --device 127.0.0.99 --events nobody.jsonl --quiet
run_with_options usage --device 127.0.0.5 --yes --colour
run_with_options late --device 127.0.0.6 --yes --deadline 3 --events late.jsonl
late_start=$EPOCHREALTIME
start_upgrade cancel "$UPGRADE" '\n'
# Without --yes the options only fill the dialogs: the person keeps the address with Enter, and
# cancels the confirmation.
printf '#!/bin/sh\nexec "%s" --device 127.0.0.5 "$@"\n' "$UPGRADE" >filled.sh
chmod +x filled.sh
start_upgrade filled "$WORK/filled.sh" 'continue\n\n\n\nc\n\n'
finish_upgrade none 1
finish_upgrade elsewhere 1
finish_upgrade nobody 1
finish_upgrade usage 2
finish_upgrade late 1
expect_seconds_between "the deadline of 3 s" "$late_start" "$EPOCHREALTIME" 2.5 20
expect_seen late "Upgrade Failed: User Abort"
[ "$(jq -r 'select(.event == "result") | .result + "|" + .text' late.jsonl)" = \
  "failed|Upgrade Failed: User Abort: the deadline of 3 s passed" ] || fail "late: result event"
wait "${RUN_PID[cancel]}" "${RUN_PID[filled]}" || true
[ "$(cat cancel.status)" = 1 ] || fail "cancel in the warning: exit status $(cat cancel.status)"
[ "$(cat filled.status)" = 1 ] || fail "cancel in the confirmation: exit status $(cat filled.status)"

# A refused password is not offered again: one refused answer, then the end.
expect_seen wrong "Upgrade Failed: the device refused the password"
[ "$(count_logged locked 'auth: refused')" = 1 ] || fail "wrong: refused answers in the device log"
[ "$(jq -r 'select(.event == "result") | .result + "|" + .text' wrong.jsonl)" = \
  "failed|Upgrade Failed: the device refused the password" ] || fail "wrong: result event"
expect_seen none "Upgrade Failed: the device wants a password; give it with --password-file FILE or TEV_PASSWORD"
expect_seen elsewhere "Upgrade Failed: 10.9.9.9 is not one of this computer's addresses"
expect_not_seen elsewhere "== Connecting with"
expect_error usage "unknown option '--colour'"
[ ! -s usage.out ] || fail "usage: printed on standard output"
expect_seen cancel "Continue/Cancel [Cancel]: "
expect_in_order filled "TEV IP Address [127.0.0.5]: " "== Confirm Upgrade" "Upgrade/Cancel [Upgrade]: c" \
    "Upgrade Failed: User Abort"
for run in locked open; do
    [ "$(count_logged $run 'upgrade: order')" = 0 ] || fail "$run: an upgrade order"
done

# A failed run's stream ends with the failure and the box's text; quiet, it prints only that.
[ ! -s nobody.out ] || fail "nobody: printed on standard output with --quiet"
[ "$(cat nobody.err)" = "127.0.0.99: failed: Upgrade Failed: No Response From TEV" ] ||
    fail "nobody: standard error: $(head -c 300 nobody.err)"
[ "$(events_in_order nobody.jsonl | tr '\n' ' ')" = "start connect result " ] || fail "nobody: events"
jq -e -s '.[-1] | .result == "failed" and .text == "Upgrade Failed: No Response From TEV"
          and .device == "127.0.0.99"' nobody.jsonl >/dev/null || fail "nobody: result event"

# The silent device took both requests and answered neither; each run ended on its own 30 s after
# its request, far from the deadline of 600 s, as at a device that does not answer at all.
for run in mute_check mute_yes; do
    finish_upgrade $run 1
    jq -e -s '.[-1] | .result == "failed" and .text == "Upgrade Failed: No Response From TEV"
              and .ms >= 29500 and .ms < 90000' $run.jsonl >/dev/null || fail "$run: $(tail -n1 $run.jsonl)"
done
[ "$(count_logged mute 'fault: GET /admin/advanced from .* left unanswered')" = 2 ] || fail "mute: requests"

finish_upgrade whole 0
finish_upgrade quiet 0
for run in whole quiet; do
    expect_image $run "$TARGET_IMAGE"
    [ "$(count_logged $run 'auth: refused')" = 0 ] || fail "$run: a refused answer"
done
# Every dialog still prints, answered as a transcript would show it; the password never does.
expect_in_order whole "== TEV-4400 Firmware Upgrade ==" "Continue/Cancel [Cancel]: Continue" \
    "TEV IP Address: 127.0.0.2" "OK/Cancel [OK]: OK" "== Enter Password Information ==" \
    "User: admin" "Password: " "== Confirm Upgrade to Ver. $version ==" \
    "Upgrade/Cancel [Upgrade]: Upgrade" "$size/$size Bytes" "Upgrade Successful! ==" "OK [OK]: OK"
expect_not_seen whole "pw one"
# The command's answer and the device's request race: the command event stands out of the order.
[ "$(events_in_order whole.jsonl | grep -vx command | tr '\n' ' ')" = \
  "start status confirmed listening request upload uploaded flash-wait verify result " ] ||
    fail "whole: events out of order: $(events_in_order whole.jsonl | tr '\n' ' ')"
jq -e -s --arg v "$version" --argjson size "$size" '
    (.[0] | .program_version != "" and .image_version == $v) and
    (map(select(.event == "status"))[0] | .software_version == "3.1.8(a)" and .mac_address != "") and
    (map(select(.event == "request"))[0].address == "127.0.0.2") and
    (map(select(.event == "command")) | length == 1 and .[0].answered == true) and
    (map(select(.event == "upload")) | last | .bytes == $size and .total == $size) and
    (map(select(.event == "flash-wait")) | (.[0].seconds_left == 30) and (last.seconds_left == 0)) and
    (.[-1] | .result == "verified" and .text == "TEV@127.0.0.2 Upgrade Successful!"
            and .version_before == "3.1.8(a)" and .version_after == $v)' whole.jsonl >/dev/null ||
    fail "whole: event fields"
# --events - with --quiet: standard output holds only the events; the result line is the only text.
[ "$(events_in_order quiet.out | tail -n1)" = result ] || fail "quiet: events on standard output"
[ "$(cat quiet.err)" = "127.0.0.3: verified: TEV@127.0.0.3 Upgrade Successful!" ] ||
    fail "quiet: standard error: $(head -c 300 quiet.err)"
echo ok
