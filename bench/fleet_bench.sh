#!/usr/bin/env bash
# The run over several devices: the wall time and the peak memory of one run of the console
# program upgrading 1, 8 and 32 tev-device instances (127.0.0.2 upwards, each with a 1 s flash)
# in a private network namespace. Every device must end verified with the image byte for byte.
# Memory is sampled every 0.1 s over the parent and its children: the sum of their resident
# sizes (RSS) and of their proportional shares (PSS, where the pages they share count once).
#
# Then the inventory: the wall time of one --check of 1, 8 and 32 devices (table check.md; goal:
# 32 devices in at most 2 s); every device must answer "needs upgrade" and get no command.
#
# fleet_bench.sh --upgrade BIN --device BIN --image FILE --work DIR [--counts "N ..."] [--check-only]
set -euo pipefail
source "$(dirname "$0")/bench_lib.sh"

UPGRADE= DEVICE= IMAGE= WORK=
COUNTS="1 8 32"
CHECK_ONLY=
ARGS=("$@")
while [ $# -gt 0 ]; do
    case $1 in
        --upgrade) UPGRADE=$2; shift 2 ;;
        --device) DEVICE=$2; shift 2 ;;
        --image) IMAGE=$2; shift 2 ;;
        --work) WORK=$2; shift 2 ;;
        --counts) COUNTS=$2; shift 2 ;;
        --check-only) CHECK_ONLY=1; shift ;;
        *) echo "fleet_bench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$UPGRADE" ] && [ -n "$DEVICE" ] && [ -n "$IMAGE" ] && [ -n "$WORK" ] || {
    sed -n '11p' "$0" >&2
    exit 2
}
UPGRADE=$(realpath "$UPGRADE") DEVICE=$(realpath "$DEVICE") IMAGE=$(realpath "$IMAGE")
WORK=$(realpath -m "$WORK")

if [ -z "${TEV_BENCH_IN_NAMESPACE:-}" ]; then
    exec env TEV_BENCH_IN_NAMESPACE=1 unshare -n -- "$0" "${ARGS[@]}"
fi
ip link set lo up

rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"
DEVICE_PIDS=()
stop_devices() {
    local pid
    for pid in "${DEVICE_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    DEVICE_PIDS=()
}
trap stop_devices EXIT

# kib FIELDS PID...: the sum of the smaps_rollup fields (kB; FIELDS a regular expression) over
# the processes still there.
kib() {
    local fields=$1 pid
    shift
    for pid in "$@"; do cat "/proc/$pid/smaps_rollup" 2>/dev/null || true; done |
        awk -v f="^($fields):$" '$1 ~ f { s += $2 } END { print s + 0 }'
}

# run COUNT: starts COUNT devices, upgrades them all in one run, prints
# "COUNT SECONDS PEAK_RSS_KIB PEAK_PSS_KIB CHILD_RSS_KIB CHILD_PRIVATE_KIB" (the child columns:
# the largest child's resident size, and the largest one's memory of its own, not shared).
run() {
    local count=$1 i address list=devices-$count.txt
    : >"$list"
    for ((i = 0; i < count; i++)); do
        address=127.0.0.$((i + 2))
        "$DEVICE" --address "$address" --flash-time 1 --quiet --log "dev-$count-$i.log" \
            --image-file "dev-$count-$i.bin" >"dev-$count-$i.out" 2>&1 &
        DEVICE_PIDS+=($!)
        echo "$address" >>"$list"
    done
    for ((i = 0; i < count; i++)); do
        wait_for_line "dev-$count-$i.out" "tev-device: ready on" 30
    done
    local start end pid status peak_rss=0 peak_pss=0 child_rss=0 child_private=0 rss pss children
    start=$EPOCHREALTIME
    "$UPGRADE" --devices "$list" --jobs 32 --yes --quiet </dev/null >"fleet-$count.out" 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        children=$(cat /proc/"$pid"/task/*/children 2>/dev/null || true)
        # shellcheck disable=SC2086
        rss=$(kib Rss "$pid" $children)
        # shellcheck disable=SC2086
        pss=$(kib Pss "$pid" $children)
        [ "$rss" -gt "$peak_rss" ] && peak_rss=$rss
        [ "$pss" -gt "$peak_pss" ] && peak_pss=$pss
        for i in $children; do
            rss=$(kib Rss "$i")
            pss=$(kib 'Private_Clean|Private_Dirty' "$i")
            [ "$rss" -gt "$child_rss" ] && child_rss=$rss
            [ "$pss" -gt "$child_private" ] && child_private=$pss
        done
        sleep 0.1
    done
    end=$EPOCHREALTIME
    wait "$pid" && status=0 || status=$?
    [ "$status" = 0 ] || fail "$count devices: exit status $status"
    for ((i = 0; i < count; i++)); do
        cmp -s "dev-$count-$i.bin" "$IMAGE" || fail "$count devices: device $i did not keep the image"
    done
    stop_devices
    awk -v c="$count" -v a="$start" -v b="$end" -v r="$peak_rss" -v p="$peak_pss" \
        -v k="$child_rss" -v u="$child_private" \
        'BEGIN { printf "%d %.2f %d %d %d %d\n", c, b - a, r, p, k, u }'
}

# check COUNT: starts COUNT devices, reads them all in one --check, prints "COUNT SECONDS".
check() {
    local count=$1 i address list=check-$count.txt start end status
    : >"$list"
    for ((i = 0; i < count; i++)); do
        address=127.0.0.$((i + 2))
        "$DEVICE" --address "$address" --quiet --log "chk-$count-$i.log" \
            --image-file "chk-$count-$i.bin" >"chk-$count-$i.out" 2>&1 &
        DEVICE_PIDS+=($!)
        echo "$address" >>"$list"
    done
    for ((i = 0; i < count; i++)); do
        wait_for_line "chk-$count-$i.out" "tev-device: ready on" 30
    done
    start=$EPOCHREALTIME
    "$UPGRADE" --check --devices "$list" --jobs 32 --quiet </dev/null >"check-$count.out" 2>&1 &&
        status=0 || status=$?
    end=$EPOCHREALTIME
    [ "$status" = 3 ] || fail "check of $count devices: exit status $status, want 3"
    [ "$(grep -c ' needs upgrade$' "check-$count.out")" = "$count" ] ||
        fail "check of $count devices: not every device answered"
    ! grep -qF "upgrade: order" chk-"$count"-*.log || fail "check of $count devices: a command was sent"
    stop_devices
    awk -v c="$count" -v a="$start" -v b="$end" 'BEGIN { printf "%d %.2f\n", c, b - a }'
}

: >check.txt
for count in 1 8 32; do
    echo "fleet: check of $count devices ..." >&2
    check "$count" | tee -a check.txt >&2
done
{
    echo "| Devices | --check wall time (s) |"
    echo "|---:|---:|"
    awk '{ printf "| %d | %.2f |\n", $1, $2 }' check.txt
} >check.md
cat check.md
[ -n "$CHECK_ONLY" ] && exit 0

: >results.txt
for count in $COUNTS; do
    echo "fleet: $count devices ..." >&2
    run "$count" | tee -a results.txt >&2
done

# The table, in Markdown, against the first count's run.
awk 'NR == 1 { t1 = $2; p1 = $4 }
     { printf "| %d | %.1f | %.2f | %.1f | %.1f | %s | %.1f | %.1f |\n", $1, $2, $2 / t1, $3 / 1024,
              $4 / 1024, NR == 1 ? "-" : sprintf("%.2f", ($4 - p1) / ($1 - 1) / 1024), $5 / 1024,
              $6 / 1024 }' results.txt >rows.md
{
    echo "| Devices | Wall time (s) | Time / one device | Peak RSS, all processes (MiB) | Peak PSS, all processes (MiB) | PSS added per device (MiB) | One child: RSS (MiB) | One child: private (MiB) |"
    echo "|---:|---:|---:|---:|---:|---:|---:|---:|"
    cat rows.md
} >table.md
cat table.md
