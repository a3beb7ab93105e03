# Shared by the whole-program tests: the console upgrader against tev-device, both in a private
# network namespace (device on 127.0.0.x, upgrader on 127.0.0.1). Several upgrades may run at once
# in one test, each under a name of its own; every line either program prints is time-stamped.
# Usage: source this file with the test's arguments, each NAME=VALUE (DEVICE, UPGRADE, WORK, ...).
set -euo pipefail
for argument in "$@"; do
    case $argument in
        [A-Z]*=*) declare "$argument" ;;
        *) echo "e2e: argument '$argument' is not NAME=VALUE" >&2; exit 2 ;;
    esac
done
: "${DEVICE:?}" "${WORK:?}"

source "$(dirname "${BASH_SOURCE[0]}")/../lib/sandbox.sh"
enter_private_network "$@"
use_work_dir "$WORK"
declare -A RUN_PID=()

FAIL_SHOWS=("*.out" "*.err" "*.events")
FAIL_IN=WORK
FAIL_LINES=60
# wait_for_line FILE FIXED_TEXT [SECONDS]; the servers' lines stamped.
LINE_WAIT_MODE=-F
LINE_WAIT_SECONDS=20
STAMP_SERVER_OUTPUT=1

# start_device NAME ADDRESS [tev-device options...]: NAME.log, NAME.bin (the image it kept) and
# NAME.events (its events, stamped); returns once its web server listens. A device and the upgrade
# that talks to it may share a name.
start_device() {
    local name=$1 address=$2
    shift 2
    start_server "$WORK/$name.events" "tev-device: ready on $address:" "$LINE_WAIT_SECONDS" \
        "$DEVICE" --address "$address" --log "$WORK/$name.log" --image-file "$WORK/$name.bin" "$@"
}

# start_upgrade NAME PROGRAM ANSWERS: runs the upgrader in the background with the lines of
# ANSWERS (printf escapes) on its input: NAME.out what the user saw, NAME.times the same stamped,
# NAME.err its error output, NAME.status its exit status (124: it had to be stopped).
start_upgrade() {
    local name=$1 program=$2 answers=$3
    (
        set +e +o pipefail
        printf '%b' "$answers" | timeout "${UPGRADE_TIME_LIMIT:-150}" "$program" 2>"$name.err" |
            tee "$name.out" | stamp >"$name.times"
        echo "${PIPESTATUS[1]}" >"$name.status"
    ) &
    RUN_PID[$name]=$!
}

# run_with_options NAME ARGS...: the upgrader in the background with ARGS and standard input
# closed, as a script runs it: NAME.out, NAME.err, NAME.status; finish_upgrade waits for it. An
# assignment before the call (VAR=VALUE run_with_options ...) reaches the program's environment.
run_with_options() {
    local name=$1
    shift
    (
        set +e
        timeout "${UPGRADE_TIME_LIMIT:-150}" "$UPGRADE" "$@" </dev/null >"$name.out" 2>"$name.err"
        echo $? >"$name.status"
    ) &
    RUN_PID[$name]=$!
}

# finish_upgrade NAME [STATUS]: waits for it and checks its exit status: 0 (the default) when the
# success dialog was shown, 1 after a failure or a Cancel; a sanitizer's report on its error output
# fails the test whatever the status.
finish_upgrade() {
    wait "${RUN_PID[$1]}" || true
    local status
    ! sanitizer_report "$1.err" || fail "$1: a sanitizer report on its error output"
    status=$(cat "$1.status" 2>/dev/null || echo none)
    [ "$status" = "${2:-0}" ] || fail "$1: upgrader exit status $status, want ${2:-0}"
}

# upgrade NAME PROGRAM ANSWERS [STATUS]: both of the above.
upgrade() {
    start_upgrade "$1" "$2" "$3"
    finish_upgrade "$1" "${4:-0}"
}

# --- What the user saw

expect_seen() { grep -qF -- "$2" "$1.out" || fail "$1: '$2' not shown"; }
expect_not_seen() { ! grep -qF -- "$2" "$1.out" || fail "$1: '$2' shown"; }

# expect_in_order NAME TEXT...: lines containing each TEXT, in this order.
expect_in_order() {
    local name=$1 missing
    shift
    missing=$(awk 'BEGIN { n = ARGC - 2; for (i = 1; i <= n; i++) want[i] = ARGV[i + 1]; ARGC = 2; i = 1 }
        i <= n && index($0, want[i]) > 0 { i++ }
        END { if (i <= n) print want[i] }' "$name.out" "$@")
    [ -z "$missing" ] || fail "$name: '$missing' not shown where expected"
}

# count_seen NAME TEXT: how many lines show TEXT.
count_seen() { grep -cF -- "$2" "$1.out" || true; }

# --- What the device saw and kept

expect_image() { cmp -s "$1.bin" "$2" || fail "$1: the image the device kept is not $2"; }
expect_logged() { grep -qE -- "$2" "$1.log" || fail "$1: no device log line matching '$2'"; }
count_logged() { grep -cE -- "$2" "$1.log" || true; }

# expect_whole_transfer NAME SIZE [--faults] [--no-options]: the device received an OACK, then
# every block of an image of SIZE bytes in order and whole (512 bytes each, the last one shorter),
# and nothing else but OACKs and blocks sent again: a resend after a silence is the protocol's,
# however loaded the machine. With --faults the device's own simulated losses and duplicates may
# appear too; with --no-options its read request named no options and no OACK may come at all.
expect_whole_transfer() {
    local name=$1 size=$2 problem
    shift 2
    problem=$(awk -v size="$size" -v flags=" $* " '
        function wrong(text) { if (!bad) bad = text " (log line " NR ": " $0 ")" }
        BEGIN { faults = index(flags, " --faults ") ? "--faults" : ""; plain = index(flags, " --no-options ") }
        /tftp: OACK to a read request without options/ { wrong("an OACK to a request without options") }
        /tftp: (repeated )?OACK / { if (plain) wrong("an OACK to a request without options"); oacks++; next }
        /tftp: late OACK ignored/ { next }
        /tftp fault: / { if (faults != "--faults") wrong("a fault"); next }
        /tftp: DATA [0-9]+ \([0-9]+ bytes\)/ {
            block = $0; sub(/.*tftp: DATA /, "", block); bytes = block
            sub(/ .*/, "", block); sub(/.*\(/, "", bytes); sub(/ .*/, "", bytes)
            if (!oacks && !plain) wrong("a block before any OACK")
            if (block + 0 != next_block + 1) wrong("block " block " where " next_block + 1 " was due")
            want = size - next_block * 512; if (want > 512) want = 512
            if (bytes + 0 != want) wrong("block " block " of " bytes " bytes, not " want)
            next_block = block + 0; next
        }
        /tftp: duplicate DATA [0-9]+/ {
            block = $0; sub(/.*duplicate DATA /, "", block); sub(/[^0-9].*/, "", block)
            if (block + 0 > next_block || block + 0 < 1) wrong("block " block " sent ahead of its turn")
            next
        }
        /tftp: (DATA [0-9]+ ignored|DATA [0-9]+ of|short packet|opcode|packet from|ERROR from)/ {
            wrong("a packet out of turn or not of the transfer")
        }
        END {
            blocks = int(size / 512) + 1
            if (!bad && next_block != blocks) bad = next_block " blocks received of " blocks
            print bad
        }' "$name.log")
    [ -z "$problem" ] || fail "$name: TFTP transfer: $problem"
    expect_logged "$name" "tftp: complete, $size bytes in $((size / 512 + 1)) blocks"
}

# --- Times

# time_of FILE FIXED_TEXT: the stamp of the first line of a stamped file with TEXT.
time_of() {
    local at
    at=$(grep -F -m1 -- "$2" "$1" | cut -d' ' -f1)
    [ -n "$at" ] || fail "no line with '$2' in $1"
    echo "$at"
}

# expect_seconds_between LABEL FROM TO LOW HIGH
expect_seconds_between() {
    local gap
    gap=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.3f", b - a }')
    awk -v g="$gap" -v lo="$4" -v hi="$5" 'BEGIN { exit !(g >= lo && g <= hi) }' ||
        fail "$1: $gap s, expected between $4 and $5 s"
    echo "$1: $gap s"
}

# --- Images

# The text as an extended regular expression that matches just it.
regex_quote() { printf '%s' "$1" | sed 's/[][().*+?^$|{}\\]/\\&/g'; }

image_size() { stat -c %s "$1"; }
# The version text at offset 92 of an image's header.
image_version() { dd if="$1" bs=1 skip=92 count=36 status=none | tr '\0' '\n' | head -n1; }
