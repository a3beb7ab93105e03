#!/usr/bin/env bash
# The run over several devices: the wall time, the peak memory and the devices verified of one
# run of the console program upgrading 1, 32, 128 and 250 tev-device instances at once
# (127.0.0.2 upwards, past 127.0.0.254 on 127.0.1.x, each with a 1 s flash) in a private network
# namespace, with --jobs as large as the count. A device counts as verified when the program says
# so; one it calls verified must hold the image byte for byte. Memory is sampled every 0.1 s over
# the parent and its children: the sum of their resident sizes (RSS) and of their proportional
# shares (PSS, where the pages they share count once). limits.txt notes the machine's limits.
# The devices share this machine's two cores with the program, as real ones would not: they log
# events only (--brief-log), not a line for each of their 1,855 packets.
#
# Then the inventory: the wall time of one --check of 1, 8 and 32 devices (table check.md; goal:
# 32 devices in at most 2 s); every device must answer "needs upgrade" and get no command. And
# the scan (table scan.md): a /24 where nothing answers, each connection attempt left unanswered
# as on a LAN where the addresses are unused (goal: at most 10 s), and a /24 where 32 devices answer, each one found
# (goal: at most 12 s).
#
# fleet_bench.sh --upgrade BIN --device BIN --image FILE --work DIR [--counts "N ..."] [--check-only]
set -euo pipefail
source "$(dirname "$0")/bench_lib.sh"

UPGRADE= DEVICE= IMAGE= WORK=
COUNTS="1 32 128 250"
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
    sed -n '13p' "$0" >&2
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

# address_of I: the I-th device's address (from 0): 127.0.0.2 to 127.0.0.254, then 127.0.1.2 on.
address_of() {
    local n=$(($1 + 2))
    if [ "$n" -le 254 ]; then echo "127.0.0.$n"; else echo "127.0.1.$((n - 253))"; fi
}

# memory PID...: "RSS PSS CHILD_RSS CHILD_PRIVATE" in KiB: the sums over the processes still there,
# then the largest resident size and the largest memory of its own (not shared) of any but the
# first. One pass over their smaps_rollup files, each of which opens with its "[rollup]" line, read
# by a single cat: a process per file would take from the run it measures a fork for each child
# every tenth of a second.
memory() {
    local pid files=()
    for pid in "$@"; do files+=("/proc/$pid/smaps_rollup"); done
    { cat "${files[@]}" 2>/dev/null || true; } |
        awk '/\[rollup\]$/ { n++; rss = 0; own = 0; next }
             $1 == "Rss:" { r += $2; if (n > 1) { rss = $2; if (rss > crss) crss = rss } }
             $1 == "Pss:" { p += $2 }
             $1 ~ /^Private_(Clean|Dirty):$/ { if (n > 1) { own += $2; if (own > cown) cown = own } }
             END { print r + 0, p + 0, crss + 0, cown + 0 }'
}

# run COUNT: starts COUNT devices, upgrades them all in one run, prints
# "COUNT VERIFIED SECONDS PEAK_RSS_KIB PEAK_PSS_KIB CHILD_RSS_KIB CHILD_PRIVATE_KIB" (the child
# columns: the largest child's resident size, and the largest one's memory of its own).
run() {
    local count=$1 i address list=devices-$count.txt
    : >"$list"
    for ((i = 0; i < count; i++)); do
        address=$(address_of "$i")
        "$DEVICE" --address "$address" --flash-time 1 --quiet --brief-log --log "dev-$count-$i.log" \
            --image-file "dev-$count-$i.bin" >"dev-$count-$i.out" 2>&1 &
        DEVICE_PIDS+=($!)
        echo "$address" >>"$list"
    done
    for ((i = 0; i < count; i++)); do
        wait_for_line "dev-$count-$i.out" "tev-device: ready on" 60
    done
    local start end pid status peak_rss=0 peak_pss=0 child_rss=0 child_private=0 children
    local rss pss crss cown verified
    start=$EPOCHREALTIME
    "$UPGRADE" --devices "$list" --jobs "$count" --yes --quiet </dev/null >"fleet-$count.out" 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        children=$(cat /proc/"$pid"/task/*/children 2>/dev/null || true)
        # shellcheck disable=SC2086
        read -r rss pss crss cown < <(memory "$pid" $children)
        [ "$rss" -gt "$peak_rss" ] && peak_rss=$rss
        [ "$pss" -gt "$peak_pss" ] && peak_pss=$pss
        [ "$crss" -gt "$child_rss" ] && child_rss=$crss
        [ "$cown" -gt "$child_private" ] && child_private=$cown
        sleep 0.1
    done
    end=$EPOCHREALTIME
    wait "$pid" && status=0 || status=$?
    verified=$(sed -n 's/^\([0-9]*\) of [0-9]* devices verified[,;].*$/\1/p' "fleet-$count.out")
    [ -n "$verified" ] || fail "$count devices: no summary (exit status $status)"
    [ "$status" = 0 ] || [ "$verified" -lt "$count" ] || fail "$count devices: exit status $status"
    while read -r address row; do
        case $row in *" verified") ;; *) continue ;; esac
        i=$(grep -nxF "$address" "$list" | cut -d: -f1 || true)
        [ -n "$i" ] || continue  # the closing count
        cmp -s "dev-$count-$((i - 1)).bin" "$IMAGE" || fail "$count devices: $address verified without the image"
    done < <(sed -n '/^ADDRESS .*RESULT$/,$p' "fleet-$count.out" | tail -n +2)
    stop_devices
    awk -v c="$count" -v v="$verified" -v a="$start" -v b="$end" -v r="$peak_rss" -v p="$peak_pss" \
        -v k="$child_rss" -v u="$child_private" \
        'BEGIN { printf "%d %d %.2f %d %d %d %d\n", c, v, b - a, r, p, k, u }'
}

# What the machine allowed, and how busy it was, for the notes.
{
    echo "cores: $(nproc); load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "open files: soft $(ulimit -Sn), hard $(ulimit -Hn)"
    echo "processes: soft $(ulimit -Su), hard $(ulimit -Hu); system-wide $(cat /proc/sys/kernel/pid_max) ids, $(cat /proc/sys/kernel/threads-max) threads"
    echo "memory: $(awk '/^MemTotal:|^MemAvailable:/ { printf "%s %d MiB  ", $1, $2 / 1024 }' /proc/meminfo)"
    echo "local ports: $(cat /proc/sys/net/ipv4/ip_local_port_range | tr '\t' ' ')"
} >limits.txt

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

# scan LABEL RANGE COUNT: COUNT devices on 127.0.2.3, .10, .17 ... (every seventh address), then
# one --scan of RANGE with --jobs 256; prints "LABEL ADDRESSES FOUND SECONDS".
scan() {
    local label=$1 range=$2 count=$3 i start end status found
    for ((i = 0; i < count; i++)); do
        "$DEVICE" --address "127.0.2.$((7 * i + 3))" --quiet --log "scan-$i.log" \
            --image-file "scan-$i.bin" >"scan-$i.out" 2>&1 &
        DEVICE_PIDS+=($!)
    done
    for ((i = 0; i < count; i++)); do wait_for_line "scan-$i.out" "tev-device: ready on" 30; done
    start=$EPOCHREALTIME
    "$UPGRADE" --scan "$range" --jobs 256 --quiet --write-devices "scan-$label.txt" \
        </dev/null >"scan-$label.out" 2>&1 && status=0 || status=$?
    end=$EPOCHREALTIME
    found=$(grep -cv '^#' "scan-$label.txt" || true)
    [ "$status" = "$([ "$count" -gt 0 ] && echo 3 || echo 0)" ] ||
        fail "scan $label: exit status $status"
    [ "$found" = "$count" ] || fail "scan $label: $found of $count devices found"
    ! grep -qF "upgrade: order" scan-*.log 2>/dev/null || fail "scan $label: a command was sent"
    stop_devices
    awk -v l="$label" -v c="$count" -v a="$start" -v b="$end" \
        'BEGIN { printf "%s 254 %d %.2f\n", l, c, b - a }'
}

# Nothing answers on 127.0.3.0/24: port 80 of each address listens with a full accept queue, so
# the system drops every further SYN, as an unused address of a LAN leaves it unanswered, and
# every connect waits its limit.
cat >silent.py <<'PY'
import socket, sys, time
held = []
for i in range(1, 255):
    listener = socket.socket()
    listener.bind((f"127.0.3.{i}", 80))
    listener.listen(0)
    filler = socket.socket()
    filler.setblocking(False)
    filler.connect_ex((f"127.0.3.{i}", 80))
    held += [listener, filler]
time.sleep(0.2)
print("silent", flush=True)
time.sleep(3600)
PY
python3 silent.py >silent.out 2>&1 &
DEVICE_PIDS+=($!)
wait_for_line silent.out silent 30
: >scan.txt
echo "fleet: scan of a silent /24 ..." >&2
scan silent 127.0.3.0/24 0 | tee -a scan.txt >&2
echo "fleet: scan of a /24 with 32 devices ..." >&2
scan devices 127.0.2.0/24 32 | tee -a scan.txt >&2
{
    echo "| Range | Addresses | Devices found | --scan wall time (s) | Goal (s) |"
    echo "|---|---:|---:|---:|---:|"
    awk '{ printf "| %s | %d | %d | %.2f | %d |\n", $1 == "silent" ? "a /24, silent" : "a /24, 32 devices",
                  $2, $3, $4, $1 == "silent" ? 10 : 12 }' scan.txt
} >scan.md
cat scan.md
[ -n "$CHECK_ONLY" ] && exit 0

: >results.txt
for count in $COUNTS; do
    echo "fleet: $count devices ..." >&2
    run "$count" | tee -a results.txt >&2
done

# The table, in Markdown, against the first count's run.
awk 'NR == 1 { t1 = $3; p1 = $5 }
     { printf "| %d | %d | %.1f | %.2f | %.1f | %.1f | %s | %.1f | %.1f |\n", $1, $2, $3, $3 / t1,
              $4 / 1024, $5 / 1024, NR == 1 ? "-" : sprintf("%.2f", ($5 - p1) / ($1 - 1) / 1024),
              $6 / 1024, $7 / 1024 }' results.txt >rows.md
{
    echo "| Devices | Verified | Wall time (s) | Time / one device | Peak RSS, all processes (MiB) | Peak PSS, all processes (MiB) | PSS added per device (MiB) | One child: RSS (MiB) | One child: private (MiB) |"
    echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    cat rows.md
} >table.md
cat table.md limits.txt
