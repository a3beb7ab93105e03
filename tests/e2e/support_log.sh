#!/usr/bin/env bash
# The log for support and the program's options. A whole upgrade with --log: the log holds every
# step (local addresses, connections, the challenge without the password or the response hash,
# the upgrade command, the read request, the number of blocks, the verification), each line
# stamped and named by its thread, and written while the program still runs. A device that asks
# for another file name: the log says why the upload never starts. A device that answers every
# block with a TFTP ERROR: the log shows each and the give-up. A device whose read request names
# no options: the log says it got DATA 1 without an OACK. A log that cannot be created: the
# box with the path and the reason, and no upgrade. --help, --version, and wrong options.
# (readme_log_lines checks the quoted lines of docs/support-log.md against these logs.)
source "$(dirname "$0")/e2e_lib.sh"
: "${PROGRAM_VERSION:?}" "${TARGET_IMAGE:?}" "${TWO_STAGE:?}" "${TRANSITION_IMAGE:?}"

# with_log NAME: a command that runs the upgrader with --log NAME.trace (NAME.log is the device's)
with_log() {
    printf '#!/bin/sh\nexec "%s" --log "%s" "$@"\n' "$UPGRADE" "$WORK/$1.trace" >"$1.sh"
    chmod +x "$1.sh"
    echo "$WORK/$1.sh"
}

# expect_log NAME FIXED_TEXT...: each text on some line of NAME.trace
expect_log() {
    local name=$1 text
    shift
    for text; do grep -qF -- "$text" "$name.trace" || fail "$name.trace: no line with '$text'"; done
}

# expect_log_lines_stamped NAME: every line "<ms> ms <thread> <text>", the times never going back.
expect_log_lines_stamped() {
    local bad
    bad=$(awk '!/^ *[0-9]+ ms (main|request|listener) / { print "unstamped: " $0; exit }
               { if ($1 + 0 < last) { print "time goes back: " $0; exit } last = $1 + 0 }' "$1.trace")
    [ -z "$bad" ] || fail "$1.trace: $bad"
}

start_device whole 127.0.0.2 --flash-time 1 --user admin --password 'pw-Secret9'
start_device wrong 127.0.0.3 --flash-time 1 --request-name /wrong-name.bin
start_device untouched 127.0.0.4 --flash-time 1
start_device refusing 127.0.0.5 --flash-time 1 --error-instead-of-ack 1
start_device plain 127.0.0.6 --flash-time 1 --tftp-no-options

# The whole upgrade and the wrong file name run side by side; each waits its 30 s.
start_upgrade whole "$(with_log whole)" 'continue\n127.0.0.2\n\n\nadmin\npw-Secret9\n\n\n'
start_upgrade refusing "$(with_log refusing)" 'continue\n127.0.0.5\n\n\n\n\n'
start_upgrade plain "$(with_log plain)" 'continue\n127.0.0.6\n\n\n\n\n'

mkfifo wrong.in
(
    set +e
    timeout 150 "$UPGRADE" --log "$WORK/wrong.trace" <wrong.in >wrong.out 2>wrong.err
    echo $? >wrong.status
) &
wrong_pid=$!
exec 3>wrong.in
printf 'continue\n127.0.0.3\n\n\n\n' >&3
# The line is in the file while the program still waits: each line is written out at once.
wait_for_line wrong.trace "+++ Bad TFTP RRQ filename /wrong-name.bin" 60
[ ! -e wrong.status ] || fail "wrong: the program ended before the cancel"
printf 'cancel\n\n' >&3
exec 3>&-
wait "$wrong_pid"
[ "$(cat wrong.status)" = 1 ] || fail "wrong: exit status $(cat wrong.status)"
expect_in_order wrong "== Waiting For Firmware Download Request From TEV ==" \
    "== TEV Firwmare Upgrade Error ==" "Upgrade Failed: User Abort"
name=$(sed -n 's/.*Sending the upgrade command: GET .*:[0-9]*\(\/tev[0-9a-f]*\.bi1\)$/\1/p' wrong.trace)
[ -n "$name" ] || fail "wrong.trace: no upgrade command with the file name"
expect_log wrong "TFTP listener on 127.0.0.1:" "$name /wrong-name.bin" \
    "(the ignored datagram: " " bytes from 127.0.0.3:"
expect_not_seen wrong "Uploading"
expect_log_lines_stamped wrong

# Nothing at the address: each connection attempt and why it failed.
upgrade nobody "$(with_log nobody)" 'continue\n127.0.0.99\n\n\n\n' 1
expect_seen nobody "Upgrade Failed: No Response From TEV"
[ "$(grep -c 'HTTP connection failed: Connection refused' nobody.trace)" = 10 ] ||
    fail "nobody.trace: not 10 refused connections"
expect_log nobody "HTTP connecting from 127.0.0.1:" " to 127.0.0.99:80" \
    "HTTP no connection after 10 attempts" "No status page from the device"

# The options.
options() {  # options NAME PROGRAM ARGS...: NAME.out, NAME.err, NAME.status
    local name=$1 program=$2
    shift 2
    set +e
    "$program" "$@" </dev/null >"$name.out" 2>"$name.err"
    echo $? >"$name.status"
    set -e
}
expect_status() {
    ! sanitizer_report "$1.err" || fail "$1: a sanitizer report on its error output"
    [ "$(cat "$1.status")" = "$2" ] || fail "$1: exit status $(cat "$1.status"), want $2"
}

options help "$UPGRADE" --help
expect_status help 0
expect_seen help "Usage: tev-upgrade [OPTION]..."
expect_seen help "  --log FILE"
expect_seen help "Exit status:"

options version "$UPGRADE" --version
expect_status version 0
expect_seen version "tev-upgrade $PROGRAM_VERSION"
expect_seen version "Target firmware: TEV-4400, version $(image_version "$TARGET_IMAGE") ($(image_size "$TARGET_IMAGE") bytes)"
expect_not_seen version "Transition firmware"
options version_two "$TWO_STAGE" --version
expect_seen version_two "Transition firmware: TEV-4400, version $(image_version "$TRANSITION_IMAGE")"

for wrong in "--verbose" "--log"; do
    # shellcheck disable=SC2086
    options usage "$UPGRADE" $wrong
    expect_status usage 2
    grep -qF "Usage: tev-upgrade [OPTION]..." usage.err || fail "'$wrong': no usage on standard error"
    [ ! -s usage.out ] || fail "'$wrong': the program printed on standard output"
done

# A file the options name that cannot be read or created: one line on standard error that names it
# and gives the system's reason, status 2, and no dialog before it.
mkdir -p taken taken.csv
printf '# none yet\n' >empty.txt
while IFS='|' read -r name said arguments; do
    # shellcheck disable=SC2086
    options "$name" "$UPGRADE" $arguments
    expect_status "$name" 2
    [ "$(cat "$name.err")" = "tev-upgrade: $said" ] ||
        fail "$name: said '$(cat "$name.err")', want 'tev-upgrade: $said'"
    [ ! -s "$name.out" ] || fail "$name: printed a dialog: $(head -c 200 "$name.out")"
done <<LIST
log_missing|can't create the log file $WORK/no-such-folder/up.log: No such file or directory|--log $WORK/no-such-folder/up.log
log_folder|can't create the log file $WORK/taken: Is a directory|--log $WORK/taken
events_missing|can't create the events file $WORK/no-such-folder/up.jsonl: No such file or directory|--events $WORK/no-such-folder/up.jsonl
password_missing|can't read the password file $WORK/no-pw.txt: No such file or directory|--password-file $WORK/no-pw.txt
password_folder|can't read the password file $WORK/taken: Is a directory|--device 127.0.0.4 --yes --password-file $WORK/taken
devices_missing|can't read the devices file $WORK/no-site.txt: No such file or directory|--devices $WORK/no-site.txt --yes
devices_folder|can't read the devices file $WORK/taken: Is a directory|--devices $WORK/taken --yes
log_dir_file|can't create the log folder $WORK/empty.txt: Not a directory|--device 127.0.0.4 --device 127.0.0.5 --yes --log-dir $WORK/empty.txt
report_folder|can't write $WORK/taken.csv: Is a directory|--device 127.0.0.4 --device 127.0.0.5 --yes --report $WORK/taken.csv
LIST
options devices_empty "$UPGRADE" --devices "$WORK/empty.txt" --yes
expect_status devices_empty 2
grep -qF "tev-upgrade: no device to upgrade: $WORK/empty.txt lists no address" devices_empty.err ||
    fail "devices_empty: the file not named: $(cat devices_empty.err)"
[ "$(count_logged untouched 'http: GET')" = 0 ] || fail "a request from a run whose file failed"

# The whole upgrade, and what its log tells.
finish_upgrade whole
expect_seen whole "Upgrade Successful!"
expect_image whole "$TARGET_IMAGE"
size=$(image_size "$TARGET_IMAGE")
blocks=$((size / 512 + 1))
expect_log whole "tev-upgrade $PROGRAM_VERSION" "Local IPv4 addresses of host" "local address 1: " \
    "HTTP connecting from 127.0.0.1:" " to 127.0.0.2:80" "HTTP connected" \
    "status line \"HTTP/1.1 401 Unauthorized\" (digest challenge)" \
    "Digest challenge taken: realm \"TEV\", qop \"auth\", algorithm \"MD5\", new nonce" \
    "Device wants credentials: asking the user" ",response=\"(not logged)\"" \
    "status line \"HTTP/1.1 200 OK\" (OK)" \
    "Sending the upgrade command: GET /admin/upgrade?tftp://127.0.0.1:" \
    "TFTP read request for /tev" " from 127.0.0.2:" \
    "Target firmware transfer to 127.0.0.2:" "$size bytes in $blocks blocks" "All blocks ack'd" \
    "Verification query 1 of 10" \
    "Verification: the device reports \"$(image_version "$TARGET_IMAGE")\", the image is"
! grep -qF 'pw-Secret9' whole.trace || fail "whole.trace holds the password"
! grep -qE 'response="[0-9a-f]{32}"' whole.trace || fail "whole.trace holds a response hash"
grep -qE ' ms main +Sending the upgrade command' whole.trace || fail "whole.trace: the command not by main"
grep -qE ' ms listener +Send block 1 ' whole.trace || fail "whole.trace: blocks not by the listener"
grep -qE ' ms request +HTTP connecting' whole.trace || fail "whole.trace: connections not by the worker"
expect_log_lines_stamped whole

# ERROR packets instead of acknowledgements: each one logged, the resends, the give-up.
finish_upgrade refusing 1
expect_seen refusing "Upgrade Failed: Firmware Upload Incomplete"
expect_log refusing 'TFTP ERROR from the device, code ' 'ReSend option ack' \
    'Timeout for ack; upgrade failed'

# A read request that names no options: the log says no OACK went out, and the image did.
finish_upgrade plain
expect_log plain 'Read request without options: no OACK, DATA 1 first' 'Send block 2 (512)'
expect_log whole 'Read request with options: OACK with tsize'
! grep -qF 'OACK with tsize' plain.trace || fail "plain.trace: an OACK to a request without options"
expect_image plain "$TARGET_IMAGE"
echo ok
