#!/usr/bin/env bash
# Runs one fuzz target for a while, from its committed seeds and the corpus it grew before in
# WORK/corpus; fails with the fuzzer's report when it finds anything (the input is kept in WORK).
# Usage: run_fuzz.sh FUZZER SEEDS SECONDS WORK
set -euo pipefail
FUZZER=$1 SEEDS=$2 DURATION=$3 WORK=$4
[ -x "$FUZZER" ] || { echo "no fuzz target $FUZZER (build it with ./run fuzz 0)" >&2; exit 1; }
mkdir -p "$WORK/corpus"
rm -f "$WORK"/crash-* "$WORK"/leak-* "$WORK"/timeout-* "$WORK"/oom-*
if ! "$FUZZER" -max_total_time="$DURATION" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$WORK/" "$WORK/corpus" "$SEEDS" >"$WORK/fuzz.log" 2>&1; then
    tail -80 "$WORK/fuzz.log" >&2
    echo "FINDING by $(basename "$FUZZER"): input kept in $(ls "$WORK"/crash-* "$WORK"/leak-* "$WORK"/timeout-* "$WORK"/oom-* 2>/dev/null)" >&2
    exit 1
fi
grep -E '^stat::number_of_executed_units' "$WORK/fuzz.log" || true
echo "$(basename "$FUZZER"): no finding in $DURATION s"
