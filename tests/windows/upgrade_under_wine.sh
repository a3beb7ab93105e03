#!/usr/bin/env bash
# The Windows program as a user runs it, under Wine, against the simulated device. Everything
# happens in a private network namespace with loopback only: a private X server, a fresh Wine
# prefix (wineserver creates Wine's sockets, so it must start in this namespace), tev-device on
# 127.0.0.2, and upgrade-driver, which runs tev-upgrade.exe and checks every dialog. Afterwards
# the device's side: what it received, and from where.
#   upgrade_under_wine.sh SCENARIO UPGRADER.EXE DRIVER.EXE RECORDER.DLL TEV-DEVICE IMAGE WORK
# Scenarios: warning-cancel, upgrade (with /log, whose file is checked too), upload-cancel (a
# slowed transfer), no-device, log-unwritable (/log into a folder that does not exist),
# bad-option, wrong-name (the device asks for another file; /log says so), two-addresses (the
# device's read request leaves from its other address, 127.0.0.3), fresh-cnonce (a device that
# challenges at every other request and refuses a client nonce brought back), confirm-fails (the
# confirm dialog cannot be created), unattended (/device, /local, /user, /passwordfile, /yes and
# /events in mixed spellings and letter case: nothing typed or clicked; the events file is read
# too), unattended-refused (the same with a password the device refuses), options-fill (the
# options without /yes only fill in the dialogs), list-report-unwritable (the list window's
# /report into a folder that does not exist: one box, status 2, no device asked), list-models (an
# adapter and a handset in the list window: the handset is other-model and gets no command).
set -euo pipefail
if [ -z "${TEV_IN_NAMESPACE:-}" ]; then
    exec env TEV_IN_NAMESPACE=1 unshare -n -- "$0" "$@"
fi
scenario=$1 exe=$2 driver=$3 recorder=$4 device=$5 image=$6 work=$7
here=$(cd "$(dirname "$0")" && pwd)
ip link set lo up

rm -rf "$work"
mkdir -p "$work/screenshots"
cd "$work"
exec > >(tee steps.log) 2>&1  # what the run saw, for the CI log
STARTED_PIDS=()
source "$here/../lib/wine_session.sh"
# The prefix goes with the run.
cleanup() { stop_wine_session "$work/prefix"; }
trap cleanup EXIT
FAIL_SHOWS=("*.log" "*.out")
FAIL_IN=work

# What the user is to see, from the image the program carries.
size=$(stat -c %s "$image")
version=$(dd if="$image" bs=1 skip=92 count=32 status=none | tr -d '\0')
device_ip=127.0.0.2 local_ip=127.0.0.1 user=operator password='Firm-Ware7'
identity=(product=TEV-4400 serial=TV00421337 mac=00:1B:5A:0C:0D:0E 'software=3.1.8(a)'
          'hardware=Rev. B')

start_wine_session "$work/prefix"

device_options=(--address "$device_ip" --flash-time 2 --log "$work/device.log"
                --image-file "$work/device.bin" --user "$user" --password "$password"
                --product-name TEV-4400 --serial TV00421337 --mac 00:1B:5A:0C:0D:0E
                --software-version '3.1.8(a)' --hardware-version 'Rev. B')
driver_values=()
case $scenario in
    # The device offers SHA-256 first and MD5 after it, as RFC 7616 servers do: the program must
    # answer the SHA-256 challenge, hashed by the system's own SHA-256 (BCrypt).
    upgrade)
        device_options+=(--challenges SHA-256,MD5)
        driver_values=("options=/log \"$(windows_path "$work/upgrade.log")\"") ;;
    # Half the acknowledgements lost: each costs a retransmission, so the upload dialog stays
    # long enough to be cancelled.
    upload-cancel) device_options+=(--drop-ack 0.5 --seed 7) ;;
    # Each nonce is good for one request, so the device challenges again at the upgrade command
    # and at the verification; each answer must bring a client nonce of its own.
    fresh-cnonce) device_options+=(--nonce-uses 1 --refuse-reused-cnonce) ;;
    confirm-fails) ;;
    # The options of a provisioning script; the password file as Notepad writes it (CR LF).
    unattended | unattended-refused | options-fill)
        given=$password
        [ "$scenario" = unattended-refused ] && given=not-the-password
        printf '%s\r\n' "$given" >password.txt
        options="/DEVICE $device_ip --User $user /PasswordFile \"$(windows_path "$work/password.txt")\""
        if [ "$scenario" != options-fill ]; then
            options+=" /local $local_ip /Yes /events \"$(windows_path "$work/events.jsonl")\""
        fi
        driver_values=("options=$options") ;;
    warning-cancel | no-device) device_options=() ;;
    log-unwritable)
        device_options=()
        log_path=$(windows_path "$work/no-such-folder/upgrade.log")
        driver_values=("options=/log \"$log_path\""
                       "box=Can't create the log file $log_path: No such file or directory") ;;
    # The driver's steps are those of the log: one box, status 2. The device must hear nothing.
    list-report-unwritable)
        printf '127.0.0.2\r\n127.0.0.3\r\n' >devices.txt
        printf '%s\r\n' "$password" >password.txt
        report_path=$(windows_path "$work/no-such-folder/x.csv")
        driver_values=("options=/devices \"$(windows_path "$work/devices.txt")\" /user $user /passwordfile \"$(windows_path "$work/password.txt")\" /check /report \"$report_path\""
                       "box=Can't write $report_path: Path not found") ;;
    # The device asks for another file name than it was ordered to fetch.
    wrong-name)
        device_options+=(--request-name /wrong-name.bin)
        driver_values=("options=/log \"$(windows_path "$work/upgrade.log")\""
                       "log=$(windows_path "$work/upgrade.log")"
                       "logline=+++ Bad TFTP RRQ filename /wrong-name.bin") ;;
    bad-option)
        device_options=()
        driver_values=("options=/verbose" "problem=unknown option '/verbose'"
                       "unattended_options=/devices f.txt /user admin /passwordfile pw /yes") ;;
    # The address typed is the web server's; the request comes from the device's other address.
    two-addresses) device_options+=(--tftp-source 127.0.0.3) ;;
    # Four devices in the list window: 127.0.0.4 already current, 127.0.0.5 refusing the
    # password; list-stop slows the first one's transfer so that Stop comes during it.
    list-window | list-stop | list-unattended)
        device_options=()
        printf '%s\r\n' "$password" >password.txt
        printf '# the site\r\n127.0.0.2  office 1\r\n127.0.0.3\r\n127.0.0.4 # office 3\r\n127.0.0.5\r\n' \
            >devices.txt
        for n in 2 3 4 5; do
            options=(--address 127.0.0.$n --flash-time 2 --log "$work/device-$n.log"
                     --image-file "$work/device-$n.bin" --user "$user" --password "$password"
                     --product-name TEV-4400 --serial TV0042133$n --mac 00:1B:5A:0C:0D:0$n
                     --software-version '3.1.8(a)' --hardware-version 'Rev. B')
            [ $n = 4 ] && options+=(--software-version "$version")
            [ $n = 5 ] && options+=(--password not-this-one)
            [ $n = 2 ] && [ "$scenario" = list-stop ] && options+=(--drop-ack 0.5 --seed 7)
            "$device" "${options[@]}" >device-$n.out 2>&1 &
            STARTED_PIDS+=($!)
        done
        for n in 2 3 4 5; do
            for ((i = 0; i < 300; i++)); do grep -q 'ready on' device-$n.out && break; sleep 0.1; done
            grep -q 'ready on' device-$n.out || fail "tev-device 127.0.0.$n did not start"
        done
        list_options="/devices \"$(windows_path "$work/devices.txt")\""
        # list-window: the person types the user and the password into the dialog.
        [ "$scenario" = list-window ] || list_options+=" /user $user"
        case $scenario in
            list-stop) list_options+=" /passwordfile \"$(windows_path "$work/password.txt")\" /jobs 1" ;;
            list-unattended)
                list_options+=" /passwordfile \"$(windows_path "$work/password.txt")\" /yes /skipcurrent"
                list_options+=" /report \"$(windows_path "$work/report.csv")\"" ;;
        esac
        driver_values=("options=$list_options" "devices=127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5"
                       current=127.0.0.4 refusing=127.0.0.5
                       "saved=$(windows_path "$work/saved.csv")") ;;
    # An adapter that needs the upgrade and a handset, whose model the program has no image for.
    list-models)
        device_options=()
        printf '%s\r\n' "$password" >password.txt
        printf '127.0.0.2\r\n127.0.0.3\r\n' >devices.txt
        for n in 2 3; do
            model=adapter
            [ $n = 3 ] && model=handset
            "$device" --address 127.0.0.$n --model $model --flash-time 2 --log "$work/device-$n.log" \
                --image-file "$work/device-$n.bin" --user "$user" --password "$password" >device-$n.out 2>&1 &
            STARTED_PIDS+=($!)
        done
        for n in 2 3; do
            for ((i = 0; i < 300; i++)); do grep -q 'ready on' device-$n.out && break; sleep 0.1; done
            grep -q 'ready on' device-$n.out || fail "tev-device 127.0.0.$n did not start"
        done
        driver_values=("options=/devices \"$(windows_path "$work/devices.txt")\" /user $user /passwordfile \"$(windows_path "$work/password.txt")\""
                       "devices=127.0.0.2 127.0.0.3" other=127.0.0.3) ;;
    *) fail "unknown scenario $scenario" ;;
esac
if [ ${#device_options[@]} -gt 0 ]; then
    "$device" "${device_options[@]}" >device.out 2>&1 &
    STARTED_PIDS+=($!)
    for ((i = 0; i < 300; i++)); do grep -q 'ready on' device.out && break; sleep 0.1; done
    grep -q 'ready on' device.out || fail "tev-device did not start"
fi

echo "== $scenario: tev-upgrade.exe under Wine on $DISPLAY, image $size bytes, version $version"
status=0
driver_scenario=$scenario
[ "$scenario" = list-report-unwritable ] && driver_scenario=log-unwritable
timeout 240 wine "$driver" "$(windows_path "$exe")" "$(windows_path "$recorder")" \
    "$(windows_path "$work/screenshots")" "$driver_scenario" "label=TEV-4400" "version=$version" \
    "size=$size" "device=$device_ip" "local=$local_ip" "user=$user" "password=$password" \
    "${identity[@]}" ${driver_values[@]+"${driver_values[@]}"} 2>driver.log || status=$?
for bitmap in screenshots/*.bmp; do  # the driver writes what Windows offers
    [ -e "$bitmap" ] || continue
    convert "$bitmap" "${bitmap%.bmp}.png" && rm -f "$bitmap"
done
echo "screenshots in $work/screenshots:" $(cd screenshots && ls)

# The device's side, checked whatever the driver found.
failures=()
[ "$status" = 0 ] || failures+=("upgrade-driver reported failures (status $status)")
expect() {  # expect WHAT COMMAND...: runs the check and notes a failure
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures+=("$what"); fi
}
received_from_local() { grep -q "tftp: RRQ .* to $local_ip:69 " device.log; }
runs_version() { grep -q "flash: done, software version now \"$version\"" device.log; }
incomplete() { ! grep -q 'tftp: complete' device.log; }
# The program's log: the line with this text, written by this thread.
logged() { grep -qE " ms $1 +.*$(printf '%s' "$2" | sed 's/[][().*+?^$|{}\\]/\\&/g')" upgrade.log; }
no_password_logged() { ! grep -qF -- "$password" upgrade.log; }
from_other_address() { grep -q "tftp: the transfer runs from 127.0.0.3, not the web server's $device_ip" device.log; }
no_upgrade_command() { ! grep -q 'http: GET /admin/upgrade' device.log; }
# The nonce and client nonce of every answer to a challenge, one pair a line.
answered_nonces() {
    sed -n 's/.*http: Authorization: Digest .*[ ,]nonce="\([^"]*\)".*cnonce="\([^"]*\)".*/\1 \2/p' \
        device.log | sort -u
}
several_challenges_answered() { [ "$(answered_nonces | cut -d' ' -f1 | sort -u | wc -l)" -ge 3 ]; }
cnonces_all_different() {
    echo "     nonce and client nonce of each answer:"; answered_nonces | sed 's/^/       /'
    [ "$(answered_nonces | cut -d' ' -f2 | sort -u | wc -l)" = "$(answered_nonces | wc -l)" ]
}
none_refused() { ! grep -q 'auth: refused' device.log; }
# Every answer the device accepted named SHA-256, and there were three (query, command, check).
sha256_answers() {
    [ "$(grep -c 'auth: the answer names algorithm "SHA-256"$' device.log)" -ge 3 ] &&
        ! grep 'auth: the answer names algorithm' device.log | grep -qv '"SHA-256"$'
}
# The events file: one JSON object a line, the last the run's result with this outcome and text.
events_parse() { python3 -c 'import json, sys
[json.loads(line) for line in open(sys.argv[1])]' events.jsonl; }
events_end_with() {
    python3 - "$1" "$2" <<'PYTHON'
import json, sys
events = [json.loads(line) for line in open("events.jsonl")]
last = events[-1]
print("     last event:", json.dumps(last))
sys.exit(0 if last["event"] == "result" and last["result"] == sys.argv[1]
         and last["text"] == sys.argv[2] else 1)
PYTHON
}
events_saw_the_upload() { jq -e -s "map(select(.event == \"uploaded\")) | length == 1" events.jsonl >/dev/null; }
case $scenario in
    upgrade)
        expect "the device kept the $size bytes of the embedded image" cmp device.bin "$image"
        expect "the device fetched from the chosen local address $local_ip" received_from_local
        expect "the device runs $version" runs_version
        expect "the log has the read request" logged listener "TFTP read request for /tev"
        expect "the log has the number of blocks" logged listener \
            "$size bytes in $((size / 512 + 1)) blocks"
        expect "the log has the verification" logged listener \
            "Verification: the device reports \"$version\", the image is \"$version\": the same"
        expect "the log has the upgrade command" logged main "Sending the upgrade command: GET"
        expect "the log has the challenge" logged request "Digest challenge taken: realm"
        expect "the log has the SHA-256 challenge chosen" logged request 'algorithm "SHA-256"'
        expect "the device accepted SHA-256 answers, and only those" sha256_answers
        expect "the device refused no answer" none_refused
        expect "the log has no password" no_password_logged ;;
    upload-cancel)
        expect "the device did not receive the whole image" incomplete ;;
    wrong-name)
        expect "the device received nothing" incomplete
        expect "the log shows both names" logged listener ".bi1 /wrong-name.bin"
        expect "the log shows where the request came from" logged listener \
            "(the ignored datagram: " ;;
    two-addresses)
        expect "the device kept the $size bytes of the embedded image" cmp device.bin "$image"
        expect "the device's transfer ran from its other address" from_other_address
        expect "the device runs $version, as the typed address reports" runs_version ;;
    fresh-cnonce)
        expect "the device kept the $size bytes of the embedded image" cmp device.bin "$image"
        expect "the device challenged the program three times or more" several_challenges_answered
        expect "every challenge was answered with a client nonce of its own" cnonces_all_different
        expect "the device refused no answer" none_refused ;;
    confirm-fails | options-fill)
        expect "the device got no upgrade command" no_upgrade_command ;;
    list-report-unwritable)
        expect "the device was not asked anything" bash -c "! grep -q 'http: GET' device.log" ;;
    unattended)
        expect "the device kept the $size bytes of the embedded image" cmp device.bin "$image"
        expect "the device fetched from the chosen local address $local_ip" received_from_local
        expect "the device runs $version" runs_version
        expect "the events file is one JSON object a line" events_parse
        expect "the events tell of the whole upload" events_saw_the_upload
        expect "the events end with the result verified" events_end_with verified \
            "TEV@$device_ip Upgrade Successful!" ;;
    unattended-refused)
        expect "the device got no upgrade command" no_upgrade_command
        expect "the events file is one JSON object a line" events_parse
        expect "the events end with the result failed" events_end_with failed \
            "Upgrade Failed: the device refused the password" ;;
esac
# The row of ADDRESS has RESULT, then reason, image, seconds, the phases' seconds and attempts.
report_says() {
    tr -d '\r' <"$1" | grep -q "^$2,.*,$3,[^,]*,[^,]*,[0-9.]*,[0-9.]*,[0-9.]*,[0-9.]*,[1-9][0-9]*\$"
}
case $scenario in
    list-window | list-unattended)
        report=report.csv
        [ "$scenario" = list-window ] && report=saved.csv
        for n in 2 3; do
            expect "127.0.0.$n kept the $size bytes of the embedded image" cmp device-$n.bin "$image"
            expect "the report says 127.0.0.$n verified" report_says $report 127.0.0.$n verified
        done
        expect "the current device got no upgrade command" \
            bash -c "! grep -q 'http: GET /admin/upgrade' device-4.log"
        expect "the report says 127.0.0.4 current" report_says $report 127.0.0.4 current
        expect "the report says 127.0.0.5 failed" report_says $report 127.0.0.5 failed
        expect "the report has the header and four rows" test "$(wc -l <$report)" = 5 ;;
    list-models)
        expect "127.0.0.2 kept the $size bytes of the embedded image" cmp device-2.bin "$image"
        expect "the handset got no upgrade command" \
            bash -c "! grep -q 'http: GET /admin/upgrade' device-3.log" ;;
    list-stop)
        expect "127.0.0.2 did not receive the whole image" bash -c "! grep -q 'tftp: complete' device-2.log"
        expect "127.0.0.3 got no upgrade command" bash -c "! grep -q 'http: GET /admin/upgrade' device-3.log" ;;
esac
[ ${#failures[@]} = 0 ] || fail "${failures[*]}"
echo "passed"
