#!/usr/bin/env bash
# The build embeds an image only when it can travel in 16-bit TFTP block numbers.
set -euo pipefail
check=$1 dir=$2
mkdir -p "$dir"
truncate -s 33553920 "$dir/too-large.bin"
truncate -s 33553919 "$dir/largest.bin"
if out=$(cmake -DIMAGE="$dir/too-large.bin" -DSTAMP="$dir/s1" -P "$check" 2>&1); then
    echo "FAIL: a 33,553,920-byte image was accepted"; exit 1
fi
grep -q "must be smaller than 33553920 bytes" <<<"$out" || { echo "FAIL: unclear message: $out"; exit 1; }
cmake -DIMAGE="$dir/largest.bin" -DSTAMP="$dir/s2" -P "$check"
[ "$(cat "$dir/s2")" = 33553919 ] || { echo "FAIL: the largest image was not recorded"; exit 1; }
rm -f "$dir"/*.bin
echo ok
