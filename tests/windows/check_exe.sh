#!/usr/bin/env bash
# Checks the Windows program from the outside: a 32-bit GUI PE that imports only Windows' own
# DLLs and carries the target firmware image of the expected size as TEV_FIRMWARE 112, and the
# two icons of the address dialogs (group icons 106 and 286, one 744-byte image each), and the
# application manifest (type 24, id 1; check_manifest.py reads each declaration); and a version
# resource with the program's version and the product and version of the firmware it installs
# (the image's header, offset 0 and 92).
#   check_exe.sh EXE IMAGE-SIZE [IMAGE PROGRAM-VERSION PRODUCT]
set -euo pipefail
exe=$1 expected_size=$2 image=${3:-} program_version=${4:-} product=${5:-}
source "$(dirname "$0")/../lib/fail.sh"

kind=$(file -b "$exe")
echo "$kind"
[[ $kind == "PE32 executable (GUI) Intel 80386"* ]] || fail "not a 32-bit GUI PE: $kind"

imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
echo "imports:" $imports
# BCRYPT: the system's cryptography (Windows Vista and later), for digest's SHA-256; COMDLG32: the
# system's save dialog.
allowed='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|WS2_32|WSOCK32|WINMM|MSVCRT|ADVAPI32|BCRYPT)\.DLL$'
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
# One manifest, the one Windows reads as it starts a program; it must parse as XML, as Windows
# refuses to start a program whose manifest does not.
[ "$(grep -c -- "--type=24 " <<<"$resources")" = 1 ] &&
    grep -q -- "--type=24 --name=1 --language=1033 " <<<"$resources" || fail "no manifest of id 1"
manifest=$(mktemp)
trap 'rm -f "$manifest"' EXIT
wrestool -x --raw --type=24 --name=1 "$exe" >"$manifest"
if command -v xmllint >/dev/null; then
    xmllint --noout "$manifest" || fail "the manifest is not XML"
fi
python3 "$(dirname "$0")/check_manifest.py" "$manifest" || exit 1

if [ -n "$image" ]; then
    grep -q -- "--type=16 --name=1 --language=1033 .*type=version" <<<"$resources" ||
        fail "no version resource"
    # The texts are UTF-16: NAME|VALUE pairs, in order.
    texts=$(wrestool -x --raw --type=16 --name=1 "$exe" | strings -el -n2 | paste -sd'|')
    echo "version resource: $texts"
    firmware_version=$(dd if="$image" bs=1 skip=92 count=36 status=none | tr '\0' '\n' | head -n1)
    for pair in "ProductName|TEV Firmware Upgrader" "ProductVersion|$program_version" \
        "FileVersion|$program_version" "FirmwareProduct|$product" \
        "FirmwareVersion|$firmware_version" \
        "FileDescription|$product Firmware Upgrade $firmware_version" \
        "OriginalFilename|$(basename "$exe")"; do
        grep -qF -- "|$pair|" <<<"|$texts|" || fail "version resource lacks $pair"
    done
    # The numbers too (VS_FIXEDFILEINFO after its signature): file and product version, each as
    # two 32-bit words, major.minor and patch.0.
    IFS=. read -r major minor patch <<<"$program_version"
    word() { printf '%02x %02x %02x %02x' $(($2 & 255)) $(($2 >> 8)) $(($1 & 255)) $(($1 >> 8)); }
    numbers="$(word "$major" "$minor") $(word "$patch" 0)"
    fixed=$(wrestool -x --raw --type=16 --name=1 "$exe" | od -An -v -tx1 | tr -s ' \n' ' ')
    grep -qF "bd 04 ef fe 00 00 01 00 $numbers $numbers" <<<"$fixed" ||
        fail "the version numbers are not $program_version ($numbers)"
fi
echo "ok"
