#!/usr/bin/env bash
# manual_page.sh PAGE PROGRAM: man reads the page without a warning, and it shows every option the
# program's --help lists, its exit statuses, its version, the files it reads and examples; every
# option the page names anywhere (its examples too) is one --help lists.
set -euo pipefail
page=$1 program=$2
source "$(dirname "$0")/../lib/fail.sh"
warnings=$(mktemp)
trap 'rm -f "$warnings"' EXIT
shown=$(MANWIDTH=100 man --warnings -l "$page" 2>"$warnings" | col -b) ||
    fail "man -l $page failed: $(cat "$warnings")"
[ ! -s "$warnings" ] || fail "man warns: $(cat "$warnings")"
version=$("$program" --version | sed -n '1s/^tev-upgrade //p')
for part in "TEV-UPGRADE(1)" "tev-upgrade - install the firmware" "EXIT STATUS" "TEV_PASSWORD" \
    "tev-upgrade $version" "FILES" "EXAMPLES" "SEE ALSO"; do
    grep -qF -- "$part" <<<"$shown" || fail "the page does not show '$part'"
done
options=$("$program" --help | sed -nE 's/^ {2,6}(-., )?(--[a-z-]+).*/\2/p')
[ "$(wc -l <<<"$options")" -ge 10 ] || fail "--help lists too few options: $options"
for option in $options; do
    grep -qE -- "^ +(-., )?$option( |$)" <<<"$shown" || fail "the page lacks $option"
done
for named in $(grep -oE -- '--[a-z][a-z-]*[a-z]' <<<"$shown" | sort -u); do
    grep -qx -- "$named" <<<"$options" || fail "the page names $named, which --help does not list"
done
[ "$(grep -cE '^[[:space:]]+tev-upgrade --' <<<"$shown")" -ge 3 ] || fail "the page shows no three examples"
echo "ok: $(wc -l <<<"$options") options, no warnings"
