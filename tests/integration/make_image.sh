#!/usr/bin/env bash
# make-image writes the identification and version texts where the upgrader reads them, a body
# that is the same for the same seed, and exactly the size asked for.
set -euo pipefail
tool=$1 dir=$2
mkdir -p "$dir"
source "$(dirname "$0")/../lib/fail.sh"
"$tool" --size 5000 --id velora610 --version "1.2.3(NT)" "$dir/a.bin"
"$tool" --size 5000 --id velora610 --version "1.2.3(NT)" "$dir/b.bin"
"$tool" --size 5000 --id velora610 --version "1.2.3(NT)" --seed 9 "$dir/c.bin"
"$tool" --size 0 "$dir/empty.bin"
[ "$(stat -c %s "$dir/a.bin")" = 5000 ] || fail "size"
[ "$(stat -c %s "$dir/empty.bin")" = 0 ] || fail "empty size"
[ "$(head -c 9 "$dir/a.bin")" = velora610 ] || fail "identification"
[ "$(dd if="$dir/a.bin" bs=1 skip=92 count=9 status=none)" = "1.2.3(NT)" ] || fail "version"
[ "$(dd if="$dir/a.bin" bs=1 skip=101 count=1 status=none | od -An -tx1 | tr -d ' ')" = 00 ] || fail "version NUL"
cmp -s "$dir/a.bin" "$dir/b.bin" || fail "not deterministic"
! cmp -s "$dir/a.bin" "$dir/c.bin" || fail "seed ignored"
if "$tool" --version "$(printf 'x%.0s' {1..36})" "$dir/d.bin" 2>/dev/null; then fail "overlong version accepted"; fi
echo ok
