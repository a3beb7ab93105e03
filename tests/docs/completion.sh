#!/usr/bin/env bash
# completion.sh COMPLETION PROGRAM: bash, with the completion the build wrote, offers exactly the
# options PROGRAM's --help lists; after each option that takes a FILE, files and folders; after a
# DIR, folders only; after any other value, nothing; after a flag, the options again; the same
# after "--option=" as after "--option"; nothing after "--".
set -euo pipefail
completion=$(realpath "$1") program=$2
source "$(dirname "$0")/../lib/fail.sh"
bash -n "$completion" || fail "bash cannot read $completion"
# shellcheck source=/dev/null
source "$completion"
function=$(complete -p tev-upgrade 2>/dev/null | sed -nE 's/.* -F ([^ ]+) .*/\1/p')
[ -n "$function" ] || fail "$completion completes nothing for tev-upgrade"

# offered WORD...: what Tab offers, sorted, one a line, on the line "tev-upgrade WORD..." with the
# cursor at the end of the last word.
offered() {
    COMP_WORDS=(tev-upgrade "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    "$function"
    [ ${#COMPREPLY[@]} = 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {  # expect WHAT WANTED WORD...
    local what=$1 wanted=$2 got
    shift 2
    got=$(offered "$@")
    [ "$got" = "$wanted" ] || fail "tev-upgrade $* <Tab>: $what: offered [${got//$'\n'/, }]"
}

# One row of --help a line: "SHORT LONG VALUE" ("-" for none).
rows=$("$program" --help | sed -nE 's/^ {2,6}(-(.), )?(--[a-z-]+)( ([^ ]+))?$/\2 \3 \5/p' |
       awk '{ if ($1 ~ /^--/) { s = "-"; l = $1; v = $2 } else { s = $1; l = $2; v = $3 }
              print s, l, (v == "" ? "-" : v) }')
[ "$(wc -l <<<"$rows")" -ge 10 ] || fail "--help lists too few options: $rows"
options=$(cut -d' ' -f2 <<<"$rows" | sort)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir "sub dir" && touch "a file.txt" zeta
files=$(printf '%s\n' "a file.txt" "sub dir" zeta)

expect "every option" "$options" -
expect "every option" "$options" ""
expect "the options after a value" "$(grep -x -- '--devices\?' <<<"$options")" --log x --dev
expect "nothing after --" "" -- --de
while read -r short long value; do
    case $value in
        -) wanted=$options what="the options after a flag" ;;
        FILE) wanted=$files what="files" ;;
        DIR) wanted="sub dir" what="folders only" ;;
        *) wanted="" what="nothing for $value" ;;
    esac
    spellings=("$long")
    [ "$short" = - ] || spellings+=("-$short")
    for spelling in "${spellings[@]}"; do expect "$what" "$wanted" "$spelling" ""; done
    [ "$value" = - ] && continue
    expect "$what after =" "$wanted" "$long" =
    expect "$what after =" "$wanted" "$long" = ""
    [ "$value" = FILE ] && expect "files from a start" "a file.txt" "$long" a
done <<<"$rows"
echo "ok: $(wc -l <<<"$rows") options complete, with their values"
