#!/usr/bin/env bash
# The transfer benchmark: the upgrader's own TFTP listener and session (tev-bench-server) and
# tftpd-hpa serve the same images to the same client, atftp, in a private network namespace with
# only loopback. Reports medians, the ratio ours / tftpd-hpa, the round-trip floor, and the CPU
# the program uses while it waits. Every received file is compared byte for byte. A third server,
# tev-floor-server (a bare lock-step server in a blocking receive), gives the floor with the same
# client: the server's view of ours against its own.
#
# run_bench.sh --server BIN --floor-server BIN --round-trip BIN --make-image BIN --work DIR
#              [--runs N] [--sizes "BYTES ..."] [--idle-seconds N] [--cpus LIST|all] [--quick]
#
# Every program runs on one CPU (the first this script may use, or --cpus): a lock-step exchange
# between two CPUs costs each block a cross-CPU wake-up, whose price the scheduler's placement
# decides from run to run (five times slower on a virtual machine), for either server alike.
set -euo pipefail
source "$(dirname "$0")/bench_lib.sh"

SERVER= FLOOR_SERVER= ROUND_TRIP= MAKE_IMAGE= WORK=
RUNS=11
SIZES="948814 8388608 32000000"
IDLE_SECONDS=10
QUICK=
CPUS=
ARGS=("$@")
while [ $# -gt 0 ]; do
    case $1 in
        --server) SERVER=$2; shift 2 ;;
        --floor-server) FLOOR_SERVER=$2; shift 2 ;;
        --round-trip) ROUND_TRIP=$2; shift 2 ;;
        --make-image) MAKE_IMAGE=$2; shift 2 ;;
        --work) WORK=$2; shift 2 ;;
        --runs) RUNS=$2; shift 2 ;;
        --sizes) SIZES=$2; shift 2 ;;
        --idle-seconds) IDLE_SECONDS=$2; shift 2 ;;
        --cpus) CPUS=$2; shift 2 ;;
        --quick) QUICK=1; shift ;;
        *) echo "run_bench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$SERVER" ] && [ -n "$FLOOR_SERVER" ] && [ -n "$ROUND_TRIP" ] && [ -n "$MAKE_IMAGE" ] && [ -n "$WORK" ] || {
    sed -n '7,8p' "$0" >&2
    exit 2
}
[ -n "$CPUS" ] || CPUS=$(taskset -cp $$ | sed 's/.*: *//; s/[,-].*//')
PIN=()
[ "$CPUS" = all ] || PIN=(taskset -c "$CPUS")
SERVER=$(realpath "$SERVER") FLOOR_SERVER=$(realpath "$FLOOR_SERVER") ROUND_TRIP=$(realpath "$ROUND_TRIP")
MAKE_IMAGE=$(realpath "$MAKE_IMAGE") WORK=$(realpath -m "$WORK")
if [ -n "$QUICK" ]; then
    RUNS=1 SIZES=948814 IDLE_SECONDS=0
fi

# A namespace of our own: nothing else's traffic on this loopback, and port 69 free to bind.
if [ -z "${TEV_BENCH_IN_NAMESPACE:-}" ]; then
    exec env TEV_BENCH_IN_NAMESPACE=1 unshare -n -- "$0" "${ARGS[@]}"
fi
ip link set lo up
# tftpd-hpa resolves its address with AI_ADDRCONFIG, which ignores 127.0.0.1 itself: a second
# loopback address lets it start here.
ip addr add 127.0.0.9/8 dev lo

REFERENCE_PORT=1069
BARE_PORT=2069
ATFTP_TIMEOUT=300

rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"
mkdir -m 755 srv
# The servers still running; a finished one is forgotten, so no other process that gets its
# number later is ever signalled.
OURS_PID= TFTPD_PID= BARE_PID=
cleanup() {
    local pid
    for pid in $OURS_PID $TFTPD_PID $BARE_PID; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT


# fetch PORT NAME OUT: atftp as the device's client would ask (options tsize and timeout, a name
# with its leading "/"); prints the wall time.
fetch() {
    local start end
    rm -f "$3"
    start=$EPOCHREALTIME
    timeout "$ATFTP_TIMEOUT" "${PIN[@]}" atftp --option "tsize 0" --option "timeout 5" -g -r "$2" -l "$3" \
        127.0.0.1 "$1" >>atftp.log 2>&1 || fail "atftp could not fetch $2 from port $1"
    end=$EPOCHREALTIME
    elapsed "$start" "$end"
}

# start_ours IMAGE NAME OUT [OPTIONS]: the upgrader's server, ready for the request; sets
# OURS_PID and OURS_PORT.
start_ours() {
    local image=$1 name=$2 out=$3
    shift 3
    "${PIN[@]}" "$SERVER" --image "$image" --name "$name" "$@" >"$out" 2>&1 </dev/null &
    OURS_PID=$!
    wait_for_line "$out" '^ready$' $((IDLE_SECONDS + 30))
    OURS_PORT=$(sed -n 's/^listening on port \([0-9]*\)$/\1/p' "$out")
}

finish_ours() {
    local status=0
    wait "$OURS_PID" || status=$?
    OURS_PID=
    [ "$status" = 0 ] || fail "tev-bench-server ended with status $status"
}

# bare_run IMAGE NAME OUT: one fetch from tev-floor-server; prints the server's own time.
bare_run() {
    "${PIN[@]}" "$FLOOR_SERVER" "$1" "$BARE_PORT" >bare.out 2>&1 </dev/null &
    BARE_PID=$!
    wait_for_line bare.out '^ready$' 30
    fetch "$BARE_PORT" "$2" "$3" >/dev/null
    wait_for_line bare.out '^transfer ' 30
    kill "$BARE_PID" 2>/dev/null || true
    wait "$BARE_PID" 2>/dev/null || true
    BARE_PID=
    sed -n 's/^transfer [0-9]* bytes in \([0-9.]*\) s$/\1/p' bare.out
}

image_name() { printf '/tev%x.bi1' $(($1 & 0xFFFF)); }

echo "Making images:" $SIZES
for size in $SIZES; do
    name=$(image_name "$size")
    "$MAKE_IMAGE" --size "$size" --version "3.2.9(b)" --seed "$size" "srv${name}" >/dev/null
    chmod 644 "srv${name}"
done

"${PIN[@]}" in.tftpd -L -a "127.0.0.1:$REFERENCE_PORT" -s "$WORK/srv" &
TFTPD_PID=$!
sleep 0.3
kill -0 "$TFTPD_PID" 2>/dev/null || fail "in.tftpd did not start"

trips=20000
[ -n "$QUICK" ] && trips=2000
"${PIN[@]}" "$ROUND_TRIP" "$trips" >round-trip.out || fail "round trip not measured"
rtt_us=$(sed -n 's/.*median \([0-9.]*\) us.*/\1/p' round-trip.out)
echo "Loopback $(cat round-trip.out)"

declare -A OURS REFERENCE SERVER_SIDE BARE
for size in $SIZES; do
    name=$(image_name "$size")
    rm -f "ours-$size.times" "ref-$size.times" "server-$size.times" "bare-$size.times"
    touch "ours-$size.times" "ref-$size.times" "server-$size.times" "bare-$size.times"
    for ((run = 1; run <= RUNS; run++)); do
        # Alternate the order, so that no server always follows another's traffic.
        for who in $( ((run % 2)) && echo "ours ref bare" || echo "bare ref ours"); do
            if [ "$who" = ours ]; then
                start_ours "srv$name" "$name" ours.out
                fetch "$OURS_PORT" "$name" received.bin >>"ours-$size.times"
                finish_ours
                sed -n 's/^transfer [0-9]* bytes in \([0-9.]*\) s,.*/\1/p' ours.out >>"server-$size.times"
            elif [ "$who" = ref ]; then
                fetch "$REFERENCE_PORT" "$name" received.bin >>"ref-$size.times"
            else
                bare_run "srv$name" "$name" received.bin >>"bare-$size.times"
            fi
            cmp -s received.bin "srv$name" || fail "$who: $name ($size bytes) not received byte for byte"
        done
        echo "  $size bytes, run $run: ours $(tail -1 "ours-$size.times") s, tftpd-hpa $(tail -1 "ref-$size.times") s, server views: ours $(tail -1 "server-$size.times") s, bare $(tail -1 "bare-$size.times") s"
    done
    OURS[$size]=$(median <"ours-$size.times")
    REFERENCE[$size]=$(median <"ref-$size.times")
    SERVER_SIDE[$size]=$(median <"server-$size.times")
    BARE[$size]=$(median <"bare-$size.times")
done

if [ "$IDLE_SECONDS" -gt 0 ]; then
    echo "Measuring the CPU while waiting ($IDLE_SECONDS s for the request, then the 30 s wait)"
    size=${SIZES%% *}
    name=$(image_name "$size")
    start_ours "srv$name" "$name" cpu.out --idle-seconds "$IDLE_SECONDS" --through-wait
    fetch "$OURS_PORT" "$name" received.bin >/dev/null
    cmp -s received.bin "srv$name" || fail "ours: $name not received byte for byte"
    wait_for_line cpu.out '^cpu flash wait' 60
    finish_ours
    idle_cpu=$(sed -n 's/^cpu waiting for the request: .* = \([0-9.]*\) %.*/\1/p' cpu.out)
    wait_cpu=$(sed -n 's/^cpu flash wait: .* = \([0-9.]*\) %.*/\1/p' cpu.out)
fi

# The table, in Markdown. Times are atftp's whole run (start-up included) unless marked as the
# server's own view: from the accepted read request to the last acknowledgement.
{
    echo "| Image (bytes) | Blocks | Ours (s) | tftpd-hpa (s) | Ours / tftpd-hpa | Floor (s) | Ours, server view (s) | Server view / floor | Bare server, its view (s) | Server view / bare | Ours, s per MB |"
    echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    for size in $SIZES; do
        awk -v size="$size" -v ours="${OURS[$size]}" -v ref="${REFERENCE[$size]}" \
            -v server="${SERVER_SIDE[$size]}" -v bare="${BARE[$size]}" -v rtt="$rtt_us" 'BEGIN {
            blocks = int(size / 512) + 1
            floor = (blocks + 1) * rtt / 1e6   # the OACK and every block, one round trip each
            printf "| %d | %d | %.4f | %.4f | %.2f | %.4f | %.4f | %.2f | %.4f | %.2f | %.4f |\n",
                size, blocks, ours, ref, ours / ref, floor, server, server / floor, bare,
                server / bare, ours / (size / 1e6)
        }'
    done
} >table.md
{
    where="every program on CPU $CPUS"
    [ "$CPUS" = all ] && where="programs on any CPU"
    echo "Medians of $RUNS runs each, atftp fetching over loopback, $where;"
    echo "round trip of 516 bytes out and 4 back between two processes: median $rtt_us us."
    echo "Floor: (blocks + 1) x round trip. Bare server: tev-floor-server's own view, atftp its client."
    if [ "$IDLE_SECONDS" -gt 0 ]; then
        echo "CPU of the whole program: waiting for the request $idle_cpu % of one core over" \
             "$IDLE_SECONDS s; during the 30 s wait after the transfer $wait_cpu %."
    fi
    # The goals, checked (a benchmark reports them; it does not fail on them).
    goals=""
    for size in $SIZES; do
        goals+=$(awk -v size="$size" -v ours="${OURS[$size]}" -v ref="${REFERENCE[$size]}" \
            -v server="${SERVER_SIDE[$size]}" -v bare="${BARE[$size]}" -v rtt="$rtt_us" 'BEGIN {
            blocks = int(size / 512) + 1
            printf "%d bytes: %.2f us a block, %s 0.95 x tftpd-hpa, %s 1.3 x floor, %s 1.3 x bare server; ",
                size, server / (blocks + 1) * 1e6, ours <= 0.95 * ref ? "within" : "NOT within",
                server <= 1.3 * (blocks + 1) * rtt / 1e6 ? "within" : "NOT within",
                server <= 1.3 * bare ? "within" : "NOT within"
        }')
    done
    echo "Goals: $goals"
    # The server view against the floor run by run, so that a median is seen with its spread.
    for size in $SIZES; do
        echo "Server view / floor, $size bytes, each run: $(awk -v size="$size" -v rtt="$rtt_us" '{
            printf "%s%.2f", (NR > 1 ? " " : ""), $1 / ((int(size / 512) + 2) * rtt / 1e6)
        }' "server-$size.times")"
        echo "Server view / bare server's, $size bytes, each run: $(paste -d ' ' "server-$size.times" \
            "bare-$size.times" | awk '{ printf "%s%.2f", (NR > 1 ? " " : ""), $1 / $2 }')"
    done
    if [ "$IDLE_SECONDS" -gt 0 ]; then
        echo "Idle: $(awk -v a="$idle_cpu" -v b="$wait_cpu" 'BEGIN { print (a < 2 && b < 2) ? "under" : "NOT under" }') 2 % of one core."
    fi
} >notes.md
echo
cat table.md
echo
cat notes.md
