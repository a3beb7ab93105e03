#!/usr/bin/env bash
# Several devices in one run, each upgrade a child process: eight devices from a devices file at
# most four at a time, each keeping the image; eight of which one refuses the password and one
# falls silent in the middle of its transfer, each reported with its own reason while the six
# others are verified; a child that hangs past --deadline and one that is killed, each shown with
# what happened; a devices file naming an address twice (status 2); and Ctrl-C in the middle of
# the transfers, which ends every child with its User Abort and still prints the summary.
# A rollout: a check of four devices (two current) that ends 3 and sends no command; an upgrade
# with --skip-current and --report that leaves the current device alone and reports every row;
# a canary refusing the password, which stops the run; a run killed with SIGKILL half way,
# whose report holds the devices finished, and whose rerun with --skip-current finishes the rest;
# and a report that cannot be written, which ends the run with status 2 before any device hears
# of it.
# A site of two models, TEV-4400 adapters beside a TEV-610 handset: the check lists the handset
# as other-model and ends 3 for the adapter that needs the upgrade (one handset alone ends 1); a
# run with the program's own image alone leaves the handset without a command (status 1); a run
# given the handset's image with --image upgrades both, each with its own image and each checked
# against it; an image file that cannot be used ends the run with status 2 before it starts.
# A scan of 127.0.7.0/24, three TEVs on it (one a handset) and silence elsewhere: it finds exactly
# those, sends them nothing but status requests, and writes a devices file that a --check reads.
# A device not there yet at the first attempt (--retries 2): the run waits, tries it again and
# verifies it, its report counting the attempts; a report tells the phases' times.
# The fleets run side by side: each whole upgrade waits about 30 s for the flash.
source "$(dirname "$0")/e2e_lib.sh"

# summary_row NAME ADDRESS: the summary's line for the address.
summary_row() { sed -n '/^ADDRESS .*RESULT$/,$p' "$1.out" | grep -E "^$(regex_quote "$2") " || true; }

# own_port DEVICE: the device was ordered to fetch from the port its own child listened on (the
# child's log in logs/), and that child served the device's own request.
own_port() {
    local address=$2 port
    port=$(sed -n 's/.*upgrade: order to fetch .* from 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1.log")
    [ -n "$port" ] || fail "$1: no upgrade order"
    grep -qF "TFTP listener on 127.0.0.1:$port" "$3/$address.log" ||
        fail "$1: ordered to port $port, which its own child did not listen on"
    grep -qF "TFTP read request for " "$3/$address.log" &&
        grep -F "TFTP read request for " "$3/$address.log" | grep -qvF " from $address:" &&
        fail "$1: its child served a request from another address"
    echo "$port"
}

printf 'pw one\n' >pw.txt
TARGET_VERSION='3.2.9(b)'
# ordered NAME: whether the device was ordered to fetch an image.
ordered() { grep -qF "upgrade: order to fetch" "$1.log"; }
# report_rows FILE: the CSV report's records, without the header line.
report_rows() { tail -n +2 "$1" | tr -d '\r'; }
for i in 2 3 4 5 6 7 8 9; do
    start_device all$i 127.0.0.$i --flash-time 1 --user admin --password 'pw one'
done
for i in 12 13 14 15 16 17; do
    start_device mixed$i 127.0.0.$i --flash-time 1 --user admin --password 'pw one'
done
start_device mixed10 127.0.0.10 --flash-time 1 --user admin --password 'another'
start_device mixed11 127.0.0.11 --flash-time 1 --user admin --password 'pw one' \
    --pause-after-block 100 --pause-time 40
for i in 20 21 22; do
    start_device stop$i 127.0.0.$i --flash-time 1 --pause-after-block 20 --pause-time 100
done
for i in 50 51 52 53; do
    version=3.1.8\(a\)
    [ $i -ge 52 ] && version=$TARGET_VERSION
    start_device check$i 127.0.0.$i --software-version "$version" --user admin --password 'pw one'
done
start_device skip60 127.0.0.60 --software-version "$TARGET_VERSION" --flash-time 1
for i in 61 62; do start_device skip$i 127.0.0.$i --flash-time 1; done
start_device canary70 127.0.0.70 --user admin --password 'another'
for i in 71 72 73; do start_device canary$i 127.0.0.$i --user admin --password 'pw one'; done
# The second wave may be killed after its order: its transfer then fails fast.
for i in 80 81 82 83; do
    start_device kill$i 127.0.0.$i --flash-time 1 --tftp-timeout 1 --tftp-retries 2
done
for i in 90 91; do start_device nowrite$i 127.0.0.$i; done
start_device models100 127.0.0.100 --flash-time 1
start_device models101 127.0.0.101 --software-version "$TARGET_VERSION"
start_device models102 127.0.0.102 --model handset
start_device models103 127.0.0.103 --flash-time 1
start_device models104 127.0.0.104 --model handset --flash-time 1
start_device models105 127.0.0.105 --flash-time 1
start_device models106 127.0.0.106 --model handset --flash-time 1
start_device scan10 127.0.7.10 --user admin --password 'pw one' --serial 'TV 10'
start_device scan20 127.0.7.20 --software-version "$TARGET_VERSION" --user admin --password 'pw one'
start_device scan30 127.0.7.30 --model handset --user admin --password 'pw one'
start_device odd25 127.0.0.25 --keep-connection-open
start_device odd26 127.0.0.26 --flash-time 1 --pause-after-block 20 --pause-time 100

{
    echo '# the lab bench'
    for i in 2 3 4 5; do echo "127.0.0.$i"; done
    echo
    for i in 6 7 8; do echo "  127.0.0.$i   # rack $i"; done
} >all.txt
run_with_options all --devices all.txt --device 127.0.0.9 --jobs 4 --user admin --password-file pw.txt \
    --yes --log-dir all-logs
mixed=()
for i in 10 11 12 13 14 15 16 17; do mixed+=(--device 127.0.0.$i); done
TEV_PASSWORD='pw one' run_with_options mixed "${mixed[@]}" --user admin --yes --log-dir mixed-logs

# An inventory: nothing is asked (no --yes) and nothing is sent but the status requests.
printf '127.0.0.50  office 2\n127.0.0.51 # hall\n127.0.0.52\n127.0.0.53\n' >check.txt
run_with_options check --check --devices check.txt --user admin --password-file pw.txt \
    --report check.json
TEV_PASSWORD='pw one' run_with_options check1 --check --device 127.0.0.50 --user admin \
    --events check1.jsonl
run_with_options skip --device 127.0.0.60 --device 127.0.0.61 --device 127.0.0.62 --yes \
    --skip-current --report skip.csv
TEV_PASSWORD='pw one' run_with_options canary --device 127.0.0.70 --device 127.0.0.71 \
    --device 127.0.0.72 --device 127.0.0.73 --user admin --yes --canary 1 --report canary.csv
# Two models at one site: what a check finds, a run with this program's image alone, and one
# given the handset's image too.
run_with_options scan --scan 127.0.7.0/24 --user admin --password-file pw.txt \
    --write-devices found.txt --report scan.csv
run_with_options models --check --device 127.0.0.100 --device 127.0.0.101 --device 127.0.0.102 \
    --report models.csv
run_with_options models1 --check --device 127.0.0.102 --events models1.jsonl
run_with_options ownonly --device 127.0.0.103 --device 127.0.0.104 --yes --report ownonly.csv
run_with_options both --device 127.0.0.105 --device 127.0.0.106 --yes --image "$HANDSET_IMAGE" \
    --report both.json --log-dir both-logs
# Nothing answers at 127.0.0.40 until the run waits for its retry; then the device starts.
run_with_options retry --device 127.0.0.40 --yes --retries 2 --retry-wait 3 --report retry.csv \
    --log-dir retry-logs
has_line_within retry.out 60 -E "^ +[0-9.]+ s  127\.0\.0\.40  retry 2 of 3 in 3 s$" ||
    fail "retry: no wait for the retry: $(cat retry.out)"
start_device retry40 127.0.0.40 --flash-time 1
head -c 100 "$HANDSET_IMAGE" >short.bin
run_with_options shortimage --check --device 127.0.0.108 --image short.bin
finish_upgrade shortimage 2
grep -qxF "tev-upgrade: the image file short.bin: shorter than its 128-byte header" shortimage.err ||
    fail "shortimage: $(head -n1 shortimage.err)"
for i in 80 81 82 83; do echo "127.0.0.$i"; done >kill.txt
"$UPGRADE" --devices kill.txt --jobs 2 --yes --report kill.csv </dev/null >kill.out 2>kill.err &
kill_pid=$!
STARTED_PIDS+=("$kill_pid")

# One child waits without end for the device's answer, one is killed in the middle of its transfer.
"$UPGRADE" --device 127.0.0.25 --device 127.0.0.26 --yes --deadline 10 </dev/null >odd.out 2>odd.err &
odd_pid=$!
STARTED_PIDS+=("$odd_pid")
has_line_within odd26.log 30 -F "tftp: DATA 20 (512 bytes)" || fail "odd26: no transfer"
victim=$(ps -o pid=,args= --ppid "$odd_pid" | awk '/ 127\.0\.0\.26 / { print $1 }')
[ -n "$victim" ] || fail "odd: no child for 127.0.0.26"
kill -KILL "$victim"

# A report that cannot be written is a promise the run cannot keep: nothing starts.
run_with_options nowrite --device 127.0.0.90 --device 127.0.0.91 --yes --report /nonexistent/dir/site.csv
finish_upgrade nowrite 2
grep -qxF "tev-upgrade: can't write /nonexistent/dir/site.csv: No such file or directory" nowrite.err ||
    fail "nowrite: $(head -n1 nowrite.err)"
for i in 90 91; do ! grep -q 'http: GET' nowrite$i.log || fail "nowrite: 127.0.0.$i was contacted"; done

# A repeated address is a wrong command line: nothing starts.
printf '127.0.0.30\n# 127.0.0.31\n127.0.0.32\n\n127.0.0.030\n' >twice.txt
run_with_options twice --devices twice.txt --yes
finish_upgrade twice 2
grep -qxF "tev-upgrade: twice.txt:5: 127.0.0.30 is listed twice" twice.err ||
    fail "twice: $(head -n1 twice.err)"
[ ! -s twice.out ] || fail "twice: printed a table"

# Ctrl-C once every device is in the middle of its transfer (each stands still after block 20).
"$UPGRADE" --device 127.0.0.20 --device 127.0.0.21 --device 127.0.0.22 --yes \
    </dev/null >stop.out 2>stop.err &
stop_pid=$!
STARTED_PIDS+=("$stop_pid")
for i in 20 21 22; do
    has_line_within stop$i.log 30 -F "tftp: DATA 20 (512 bytes)" || fail "stop$i: no transfer"
done
children=$(ps -o pid= --ppid "$stop_pid" | tr -d ' ')
[ "$(echo "$children" | wc -w)" = 3 ] || fail "stop: children '$children'"
kill -INT "$stop_pid"
for ((i = 0; i < 300; i++)); do kill -0 "$stop_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$stop_pid" 2>/dev/null && fail "stop: still running 30 s after Ctrl-C"
wait "$stop_pid" && stop_status=0 || stop_status=$?
[ "$stop_status" = 1 ] || fail "stop: exit status $stop_status, want 1"
for pid in $children; do
    ! kill -0 "$pid" 2>/dev/null || fail "stop: child $pid left behind"
done
for i in 20 21 22; do
    summary_row stop 127.0.0.$i | grep -qE ' failed: Upgrade Failed: User Abort$' ||
        fail "stop: 127.0.0.$i not ended with its User Abort"
done
grep -qE "^0 of 3 devices verified, 3 failed; total time [0-9]+:[0-9]{2}$" stop.out || fail "stop: no summary count"

# Half way (the first wave of two reported), the run is killed: the report holds what ended.
for ((i = 0; i < 900; i++)); do
    [ "$(report_rows kill.csv 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.1
done
kill -KILL "$kill_pid"
wait "$kill_pid" 2>/dev/null || true
[ "$(report_rows kill.csv | wc -l)" = 2 ] || fail "kill: report $(cat kill.csv)"
report_rows kill.csv | grep -qvE '^127\.0\.0\.8[0-3],.*,3\.1\.8\(a\),3\.2\.9\(b\),verified,,TEV-4400 3\.2\.9\(b\),[0-9.]+(,[0-9.]+){3},1$' &&
    fail "kill: report rows $(cat kill.csv)"
[ -z "$(ls kill.csv.tmp* 2>/dev/null)" ] || fail "kill: a temporary report left beside"
for ((i = 0; i < 100; i++)); do
    pgrep -f -- "--device 127\.0\.0\.8[0-3] " >/dev/null || break
    sleep 0.1
done
! pgrep -f -- "--device 127\.0\.0\.8[0-3] " >/dev/null || fail "kill: children outlived the run"
first_wave=$(report_rows kill.csv | cut -d, -f1)
# A device the kill caught writing its flash has its web server closed for a moment, as a real one
# reboots: the rerun starts once every device listens again.
for ((i = 0; i < 300; i++)); do
    closed=0
    for n in 80 81 82 83; do
        grep 'web server:' "kill$n.log" | tail -n 1 | grep -q listening || closed=1
    done
    [ $closed = 0 ] && break
    sleep 0.1
done
run_with_options rerun --devices kill.txt --jobs 2 --yes --report kill.csv --skip-current

finish_upgrade check 3
finish_upgrade check1 3
for i in 50 51 52 53; do ! ordered check$i || fail "check: 127.0.0.$i was ordered to upgrade"; done
summary_row check 127.0.0.50 | grep -qE '^127\.0\.0\.50 +office 2 +TEV-4400 .* needs upgrade$' ||
    fail "check: $(summary_row check 127.0.0.50)"
summary_row check 127.0.0.53 | grep -qE ' already current$' || fail "check: $(summary_row check 127.0.0.53)"
grep -qE '^2 of 4 devices current, 2 need the upgrade; total time' check.out || fail "check: count"
jq -e 'length == 4 and .[0].label == "office 2" and .[1].label == "hall"
       and ([.[].result] == ["needs-upgrade", "needs-upgrade", "current", "current"])
       and .[0].mac != "" and .[0].version_before == "3.1.8(a)"' check.json >/dev/null ||
    fail "check: report $(cat check.json)"
jq -se 'map(select(.event == "check")) | length == 1 and .[0].needs_upgrade == true
        and .[0].software_version == "3.1.8(a)"' check1.jsonl >/dev/null ||
    fail "check1: events $(cat check1.jsonl)"
grep -qF 'needs the upgrade to 3.2.9(b)' check1.out || fail "check1: no inventory line"
! grep -qE 'Forcing a firmware upgrade|TEV IP Address' check1.out || fail "check1: asked an upgrade's question"
! ordered check50 || fail "check1: ordered an upgrade"

finish_upgrade models 3
finish_upgrade models1 1
for i in 100 101 102; do ! ordered models$i || fail "models: 127.0.0.$i was ordered to upgrade"; done
[ "$(report_rows models.csv | cut -d, -f1,9,10,11 | tr '\n' ' ')" = \
    "127.0.0.100,needs-upgrade,,TEV-4400 3.2.9(b) 127.0.0.101,current,,TEV-4400 3.2.9(b) 127.0.0.102,other-model,TEV-610; the image is for TEV-4400, " ] ||
    fail "models: report $(cat models.csv)"
summary_row models 127.0.0.102 | grep -qE ' TEV-610 .* other model: TEV-610; the image is for TEV-4400$' ||
    fail "models: $(summary_row models 127.0.0.102)"
grep -qE '^1 of 3 devices current, 1 need the upgrade, 1 of another model; total time' models.out ||
    fail "models: count"
jq -se 'map(select(.event == "check")) | length == 1 and .[0].other_model == true
        and .[0].needs_upgrade == false and .[0].image_product == ""' models1.jsonl >/dev/null &&
    jq -se '.[-1].event == "result" and .[-1].result == "other-model"' models1.jsonl >/dev/null ||
    fail "models1: events $(cat models1.jsonl)"
grep -qxF '127.0.0.102: other-model: TEV-610; the image is for TEV-4400' models1.out ||
    fail "models1: $(cat models1.out)"

finish_upgrade skip 0
! ordered skip60 && [ ! -e skip60.bin ] || fail "skip: the current device was upgraded"
expect_image skip61 "$TARGET_IMAGE"
expect_image skip62 "$TARGET_IMAGE"
[ "$(report_rows skip.csv | cut -d, -f1,9 | tr '\n' ' ')" = \
    "127.0.0.60,current 127.0.0.61,verified 127.0.0.62,verified " ] || fail "skip: report $(cat skip.csv)"
grep -qE '^2 of 3 devices verified, 1 already current;' skip.out || fail "skip: count"

finish_upgrade canary 1
for i in 71 72 73; do ! ordered canary$i || fail "canary: 127.0.0.$i was ordered to upgrade"; done
grep -qxF 'Stopped early: the canary 127.0.0.70 failed (--canary 1)' canary.out ||
    fail "canary: no reason to stop"
[ "$(report_rows canary.csv | cut -d, -f9 | tr '\n' ' ')" = \
    "failed not-started not-started not-started " ] || fail "canary: report $(cat canary.csv)"
# The retry keeps this run's record: its report goes beside.
grep -qF ' --canary 1 --report canary-retry1.csv --skip-current' canary.out || fail "canary: no retry command"

finish_upgrade rerun 0
for i in 80 81 82 83; do
    row=$(report_rows kill.csv | grep "^127\.0\.0\.$i,") || fail "rerun: no row for 127.0.0.$i"
    if grep -qxF "127.0.0.$i" <<<"$first_wave"; then
        [[ $row == *,current,* ]] || fail "rerun: 127.0.0.$i not left alone: $row"
    else
        [[ $row =~ ,(verified|current), ]] || fail "rerun: 127.0.0.$i: $row"
    fi
    expect_image kill$i "$TARGET_IMAGE"
done

finish_upgrade scan 3
[ "$(grep -v '^#' found.txt)" = "127.0.7.10  TEV-4400 TV 10
127.0.7.20  TEV-4400 TV12345678
127.0.7.30  TEV-610 TV12345678" ] || fail "scan: devices file $(cat found.txt)"
[ "$(report_rows scan.csv | cut -d, -f1,9 | tr '\n' ' ')" = \
    "127.0.7.10,needs-upgrade 127.0.7.20,current 127.0.7.30,other-model " ] ||
    fail "scan: report $(cat scan.csv)"
grep -qE '^Scanned 254 addresses: 254 asked, 3 TEVs found, 251 silent, 0 not TEVs; ' scan.out ||
    fail "scan: counts $(grep Scanned scan.out)"
for i in 10 20 30; do ! ordered scan$i || fail "scan: 127.0.7.$i was sent a command"; done
run_with_options scancheck --check --devices found.txt --user admin --password-file pw.txt
finish_upgrade scancheck 3
summary_row scancheck 127.0.7.10 | grep -qE ' needs upgrade$' &&
    summary_row scancheck 127.0.7.30 | grep -qF 'other model' || fail "scancheck: $(cat scancheck.out)"
finish_upgrade ownonly 1
expect_image models103 "$TARGET_IMAGE"
! ordered models104 && [ ! -e models104.bin ] || fail "ownonly: the handset was sent a command"
[ "$(report_rows ownonly.csv | cut -d, -f1,8,9 | tr '\n' ' ')" = \
    "127.0.0.103,3.2.9(b),verified 127.0.0.104,,other-model " ] || fail "ownonly: report $(cat ownonly.csv)"
grep -qE '^1 of 2 devices verified, 1 left alone for its model; total time' ownonly.out ||
    fail "ownonly: count"
finish_upgrade both 0
expect_image models105 "$TARGET_IMAGE"
expect_image models106 "$HANDSET_IMAGE"
jq -e 'map([.address, .version_after, .result, .image]) ==
       [["127.0.0.105", "3.2.9(b)", "verified", "TEV-4400 3.2.9(b)"],
        ["127.0.0.106", "1.5.0", "verified", "TEV-610 1.5.0"]]' both.json >/dev/null ||
    fail "both: report $(cat both.json)"
# Where the time went: the status page and the transfer took a moment, the flash its 30 s; together
# no more than the device's whole time.
jq -e 'all(.[]; .seconds_status >= 0 and .seconds_transfer >= 0 and .seconds_flash >= 29.9
           and .seconds_flash < 60 and .attempts == 1
           and .seconds_status + .seconds_transfer + .seconds_flash <= .seconds + 0.2)' \
    both.json >/dev/null || fail "both: phase times $(cat both.json)"
# Each child compared the version after the flash with its own device's image.
grep -qF 'Verification: the device reports "3.2.9(b)", the image is "3.2.9(b)": the same' \
    both-logs/127.0.0.105.log || fail "both: 127.0.0.105 not checked against its image"
grep -qF 'Verification: the device reports "1.5.0", the image is "1.5.0": the same' \
    both-logs/127.0.0.106.log || fail "both: 127.0.0.106 not checked against its image"
grep -qE "The image for the device: TEV-610, version 1\.5\.0, $(image_size "$HANDSET_IMAGE") bytes, from " \
    both-logs/127.0.0.106.log || fail "both: no choice of the handset's image in its log"

finish_upgrade retry 0
expect_image retry40 "$TARGET_IMAGE"
row=$(report_rows retry.csv)
[[ $row =~ ^127\.0\.0\.40,.*,verified,,.*,([23])$ ]] || fail "retry: report $row"
[ -s "retry-logs/127.0.0.40-retry1.log" ] && grep -q 'HTTP no connection after 10 attempts' retry-logs/127.0.0.40.log ||
    fail "retry: the first attempt's log was not kept beside the retry's"

finish_upgrade all 0
finish_upgrade mixed 1
wait "$odd_pid" && odd_status=0 || odd_status=$?
[ "$odd_status" = 1 ] || fail "odd: exit status $odd_status, want 1"
summary_row odd 127.0.0.25 |
    grep -qE ' 1[0-9]\.[0-9] s +failed: passed its deadline of 10 s$' ||
    fail "odd: 127.0.0.25: $(summary_row odd 127.0.0.25)"
summary_row odd 127.0.0.26 | grep -qE ' failed: killed by signal 9$' ||
    fail "odd: 127.0.0.26: $(summary_row odd 127.0.0.26)"
declare -A port_of=()
for i in 2 3 4 5 6 7 8 9; do
    expect_image all$i "$TARGET_IMAGE"
    summary_row all 127.0.0.$i | grep -qE ' 3\.1\.8\(a\) +3\.2\.9\(b\) .* verified$' ||
        fail "all: 127.0.0.$i: $(summary_row all 127.0.0.$i)"
done
grep -qE "^8 of 8 devices verified; total time [0-9]+:[0-9]{2}$" all.out || fail "all: summary count"
# --jobs 4: never more than four upgrades between their start and their end.
most=$(awk '$4 == "connecting" { n++; if (n > m) m = n } $4 == "verified" || $4 == "failed:" { n-- }
            END { print m + 0 }' all.out)
[ "$most" = 4 ] || fail "all: $most upgrades at once with --jobs 4"

for i in 12 13 14 15 16 17; do
    expect_image mixed$i "$TARGET_IMAGE"
    summary_row mixed 127.0.0.$i | grep -qE ' verified$' || fail "mixed: 127.0.0.$i not verified"
done
summary_row mixed 127.0.0.10 | grep -qE ' failed: Upgrade Failed: the device refused the password$' ||
    fail "mixed: 127.0.0.10: $(summary_row mixed 127.0.0.10)"
summary_row mixed 127.0.0.11 | grep -qE ' failed: Upgrade Failed: Firmware Upload Incomplete$' ||
    fail "mixed: 127.0.0.11: $(summary_row mixed 127.0.0.11)"
[ ! -e mixed10.bin ] && [ ! -e mixed11.bin ] || fail "mixed: a failed device kept an image"
grep -qE "^6 of 8 devices verified, 2 failed; total time" mixed.out || fail "mixed: summary count"

# Each device fetched from the port its own child listened on; the children of one run that
# overlapped never shared a port.
for i in 2 3 4 5 6 7 8 9; do own_port all$i 127.0.0.$i all-logs >/dev/null; done
ports=()
for i in 11 12 13 14 15 16 17; do ports+=("$(own_port mixed$i 127.0.0.$i mixed-logs)"); done
[ "$(printf '%s\n' "${ports[@]}" | sort -u | wc -l)" = 7 ] || fail "mixed: ports ${ports[*]}"
echo ok
