#!/usr/bin/env bash
# manual_page.sh PAGE PROGRAM: man reads the page without a warning, and it shows every option the
# program's --help lists, its exit statuses and its version.
set -euo pipefail
page=$1 program=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
warnings=$(mktemp)
trap 'rm -f "$warnings"' EXIT
shown=$(MANWIDTH=100 man --warnings -l "$page" 2>"$warnings" | col -b) ||
    fail "man -l $page failed: $(cat "$warnings")"
[ ! -s "$warnings" ] || fail "man warns: $(cat "$warnings")"
version=$("$program" --version | sed -n '1s/^tev-upgrade //p')
for part in "TEV-UPGRADE(1)" "tev-upgrade - install the firmware" "EXIT STATUS" "TEV_PASSWORD" \
    "tev-upgrade $version"; do
    grep -qF -- "$part" <<<"$shown" || fail "the page does not show '$part'"
done
options=$("$program" --help | sed -nE 's/^ {2,6}(-., )?(--[a-z-]+).*/\2/p')
[ "$(wc -l <<<"$options")" -ge 10 ] || fail "--help lists too few options: $options"
for option in $options; do
    grep -qE -- "^ +(-., )?$option( |$)" <<<"$shown" || fail "the page lacks $option"
done
echo "ok: $(wc -l <<<"$options") options, no warnings"
