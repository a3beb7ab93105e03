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
# The list window during the run and at its end, one above the other.
list_shots=$root/build/linux-asan/tests/windows/upgrade-list-window/screenshots
list_output=$root/docs/windows-list-window-under-wine.png
if [ -f "$list_shots/list-window-05-ended.png" ]; then
    convert -background white "$list_shots/list-window-04-uploading.png" \
        "$list_shots/list-window-05-ended.png" -append +repage "$list_output"
    echo "$list_output: $(identify -format '%wx%h' "$list_output")"
fi
