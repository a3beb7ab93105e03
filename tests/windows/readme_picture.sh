#!/usr/bin/env bash
# Makes the README's picture of the Windows program under Wine from the screenshots of the
# whole-upgrade run (ctest -R windows_upgrade_whole_under_wine): the address, confirm and success
# dialogs side by side, the upload under them, on white. Then the list window's picture, from the
# run over four devices (ctest -R windows_list_window_checks), when that run has been made.
#   readme_picture.sh [SCREENSHOTS [OUTPUT]]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
shots=${1:-$root/build/linux-asan/tests/windows/upgrade-upgrade/screenshots}
output=${2:-$root/docs/windows-upgrade-under-wine.png}
convert -background white \
    \( "$shots/upgrade-02-address.png" "$shots/upgrade-04-confirm.png" \
       "$shots/upgrade-07-success.png" +append \) \
    "$shots/upgrade-05-uploading.png" -append "$output"
echo "$output: $(identify -format '%wx%h' "$output")"
list_shot=$root/build/linux-asan/tests/windows/upgrade-list-window/screenshots/list-window-04-uploading.png
if [ -f "$list_shot" ]; then
    cp "$list_shot" "$root/docs/windows-list-window-under-wine.png"
    echo "$root/docs/windows-list-window-under-wine.png: $(identify -format '%wx%h' "$list_shot")"
fi
