#!/usr/bin/env bash
# Checks the Windows program from the outside: a 32-bit GUI PE that imports only Windows' own
# DLLs and carries the target firmware image of the expected size as TEV_FIRMWARE 112, and the
# two icons of the address dialogs (group icons 106 and 286, one 744-byte image each), and no
# manifest.
set -euo pipefail
exe=$1 expected_size=$2
fail() { echo "FAIL: $*"; exit 1; }

kind=$(file -b "$exe")
echo "$kind"
[[ $kind == "PE32 executable (GUI) Intel 80386"* ]] || fail "not a 32-bit GUI PE: $kind"

imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
echo "imports:" $imports
allowed='^(KERNEL32|USER32|GDI32|COMCTL32|WS2_32|WSOCK32|WINMM|MSVCRT|ADVAPI32)\.DLL$'
while read -r dll; do
    [[ $dll =~ $allowed ]] || fail "imports a DLL that Windows does not ship: $dll"
done <<<"$imports"

resources=$(wrestool -l "$exe")
echo "$resources"
grep -q -- "--type='TEV_FIRMWARE' --name=112 .*size=$expected_size\]" <<<"$resources" ||
    fail "no TEV_FIRMWARE 112 of $expected_size bytes"
if grep -q -- "--name=319" <<<"$resources"; then fail "a one-stage build carries resource 319"; fi
for group in 106 286; do
    grep -q -- "--type=14 --name=$group --language=1033 " <<<"$resources" || fail "no group icon $group"
done
[ "$(grep -c -- "--type=3 .*type=icon .*size=744\]" <<<"$resources")" = 2 ] ||
    fail "the icons are not two images of 744 bytes"
# The classic look: no manifest that would ask for the visual-styles common controls.
if grep -q -- "--type=24 " <<<"$resources"; then fail "carries a manifest"; fi
echo "ok"
