#!/usr/bin/env bash
# The Windows program's transfer under Wine, beside a floor measured in the same run under the same
# Wine. tev-upgrade.exe is driven by upgrade-driver (scenario serve) through the warning, address
# and confirm dialogs against tev-device, whose own client holds back; atftp then fetches the
# ordered file from the program, as in the Linux benchmark. The floor: tev-floor-server.exe, a bare
# Winsock server answering the same lock-step exchange with no dialogs. Runs alternate; every file
# received is compared byte for byte; medians of atftp's whole run are reported.
#
# windows_bench.sh --exe EXE --driver DRIVER.EXE --recorder DLL --floor FLOOR.EXE --device BIN
#                  --image FILE --work DIR [--runs N] [--cpus LIST|all]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)

EXE= DRIVER= RECORDER= FLOOR= DEVICE= IMAGE= WORK= RUNS=5 CPUS=
ARGS=("$@")
while [ $# -gt 0 ]; do
    case $1 in
        --exe) EXE=$2; shift 2 ;;
        --driver) DRIVER=$2; shift 2 ;;
        --recorder) RECORDER=$2; shift 2 ;;
        --floor) FLOOR=$2; shift 2 ;;
        --device) DEVICE=$2; shift 2 ;;
        --image) IMAGE=$2; shift 2 ;;
        --work) WORK=$2; shift 2 ;;
        --runs) RUNS=$2; shift 2 ;;
        --cpus) CPUS=$2; shift 2 ;;
        *) echo "windows_bench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
for value in "$EXE" "$DRIVER" "$RECORDER" "$FLOOR" "$DEVICE" "$IMAGE" "$WORK"; do
    [ -n "$value" ] || { sed -n '9,10p' "$0" >&2; exit 2; }
done
EXE=$(realpath "$EXE") DRIVER=$(realpath "$DRIVER") RECORDER=$(realpath "$RECORDER")
FLOOR=$(realpath "$FLOOR") DEVICE=$(realpath "$DEVICE") IMAGE=$(realpath "$IMAGE")
WORK=$(realpath -m "$WORK")

# A namespace of our own: port 80 and 69 free, nothing else on this loopback. Every process of
# the run (X server, wineserver, the program, atftp) shares one CPU, as in the Linux benchmark.
if [ -z "${TEV_BENCH_IN_NAMESPACE:-}" ]; then
    [ -n "$CPUS" ] || CPUS=$(taskset -cp $$ | sed 's/.*: *//; s/[,-].*//')
    PIN=()
    [ "$CPUS" = all ] || PIN=(taskset -c "$CPUS")
    exec env TEV_BENCH_IN_NAMESPACE=1 TEV_BENCH_CPUS="$CPUS" "${PIN[@]}" unshare -n -- "$0" "${ARGS[@]}"
fi
CPUS=$TEV_BENCH_CPUS
ip link set lo up

FLOOR_PORT=1069
rm -rf "$WORK"
mkdir -p "$WORK/shots"
cd "$WORK"
STARTED_PIDS=()
source "$HERE/bench_lib.sh"
source "$HERE/../tests/lib/wine_session.sh"
source "$HERE/../tests/lib/start_server.sh"
cleanup() { stop_wine_session "$WORK/prefix"; }
trap cleanup EXIT

# fetch PORT NAME: atftp as in the Linux benchmark; prints the wall time; the file in received.bin.
fetch() {
    local start end
    rm -f received.bin
    start=$EPOCHREALTIME
    timeout 300 atftp --option "tsize 0" --option "timeout 5" -g -r "$2" -l received.bin \
        127.0.0.1 "$1" >>atftp.log 2>&1 || fail "atftp could not fetch $2 from port $1"
    end=$EPOCHREALTIME
    cmp -s received.bin "$IMAGE" || fail "$2 from port $1 not received byte for byte"
    elapsed "$start" "$end"
}

size=$(stat -c %s "$IMAGE")
version=$(dd if="$IMAGE" bs=1 skip=92 count=32 status=none | tr -d '\0')
identity=(product=TEV-4400 serial=TV00421337 mac=00:1B:5A:0C:0D:0E 'software=3.1.8(a)'
          'hardware=Rev. B')

echo "Setting up a Wine prefix"
start_wine_session "$WORK/prefix"

# The device at 127.0.0.1 itself, so the program serves atftp, which asks from that address. Its
# own client holds back for an hour (and its web server with it), so each run has a fresh device.
start_device() {
    rm -f device.log device.out
    start_server device.out 'ready on' 10 \
        "$DEVICE" --address 127.0.0.1 --tftp-delay 3600 --log device.log --image-file device.bin \
        --product-name TEV-4400 --serial TV00421337 --mac 00:1B:5A:0C:0D:0E \
        --software-version '3.1.8(a)' --hardware-version 'Rev. B'
    DEVICE_PID=$SERVER_PID
}

wine "$FLOOR" "$(windows_path "$IMAGE")" "$FLOOR_PORT" >floor.out 2>&1 &
STARTED_PIDS+=($!)
wait_for_line floor.out '^ready' 60

# One transfer from the program: driven to the upgrade command, then fetched by atftp.
program_run() {
    local orders=0 order name port status=0
    start_device
    timeout 240 wine "$DRIVER" "$(windows_path "$EXE")" "$(windows_path "$RECORDER")" \
        "$(windows_path "$WORK/shots")" serve "label=TEV-4400" "version=$version" "size=$size" \
        device=127.0.0.1 local=127.0.0.1 "${identity[@]}" >driver.out 2>driver.log &
    local driver_pid=$!
    for ((i = 0; i < 2400; i++)); do
        [ "$(grep -c 'upgrade: order' device.log || true)" -gt "$orders" ] && break
        kill -0 "$driver_pid" 2>/dev/null || break
        sleep 0.05
    done
    order=$(grep 'upgrade: order' device.log | tail -1)
    [ "$(grep -c 'upgrade: order' device.log || true)" -gt "$orders" ] ||
        fail "the program sent no upgrade command: $(cat driver.out)"
    name=$(sed -n 's/.*order to fetch "\([^"]*\)" from [0-9.]*:\([0-9]*\).*/\1/p' <<<"$order")
    port=$(sed -n 's/.*order to fetch "\([^"]*\)" from [0-9.]*:\([0-9]*\).*/\2/p' <<<"$order")
    fetch "$port" "$name"
    wait "$driver_pid" || status=$?
    [ "$status" = 0 ] || fail "upgrade-driver found failures (status $status): $(grep -v '^ok' driver.out)"
    kill "$DEVICE_PID"
    wait "$DEVICE_PID" 2>/dev/null || true
}

rm -f program.times floor.times
for ((run = 1; run <= RUNS; run++)); do
    for who in $( ((run % 2)) && echo "program floor" || echo "floor program"); do
        if [ "$who" = program ]; then program_run >>program.times; else fetch "$FLOOR_PORT" /floor >>floor.times; fi
    done
    echo "  $size bytes, run $run: tev-upgrade.exe $(tail -1 program.times) s, floor $(tail -1 floor.times) s"
done
program=$(median <program.times)
floor=$(median <floor.times)
where="every program on CPU $CPUS"
[ "$CPUS" = all ] && where="programs on any CPU"
{
    echo "| Image (bytes) | Blocks | tev-upgrade.exe under Wine (s) | Floor under Wine (s) | Program / floor | Program, ms per block |"
    echo "|---:|---:|---:|---:|---:|---:|"
    awk -v size="$size" -v p="$program" -v f="$floor" 'BEGIN {
        blocks = int(size / 512) + 1
        printf "| %d | %d | %.4f | %.4f | %.2f | %.4f |\n", size, blocks, p, f, p / f, p / (blocks + 1) * 1000
    }'
} >windows-table.md
{
    echo "Medians of $RUNS runs each, atftp fetching over loopback, $where, $(wine --version)."
    echo "Goal: $(awk -v p="$program" -v f="$floor" 'BEGIN { print (p <= 1.2 * f) ? "within" : "NOT within" }') 1.2 x floor."
    # Each run's program against the floor run beside it.
    echo "Program / floor, each run: $(paste -d ' ' program.times floor.times |
        awk '{ printf "%s%.2f", (NR > 1 ? " " : ""), $1 / $2 }')"
} >windows-notes.md
echo
cat windows-table.md
echo
cat windows-notes.md
