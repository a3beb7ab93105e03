#!/usr/bin/env bash
# Runs the dialog driver under Wine on a private X server with a fresh prefix, against the
# gallery, then turns the driver's screenshots into PNG files beside its log.
#   dialogs_under_wine.sh PREFIX DRIVER.EXE GALLERY.EXE OUTPUT-FOLDER GROUP
set -euo pipefail
prefix=$1 driver=$2 gallery=$3 output=$4 group=$5
rm -rf "$prefix" "$output"
mkdir -p "$prefix" "$output"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
source "$(dirname "$0")/../lib/wine_session.sh"

# With no window manager on the private server, Wine draws the frames and captions itself only
# for windows it does not hand to a manager; the screenshots then show the whole dialog.
# Wine draws the caption buttons (the close box) with its Marlett font, from fonts-wine; this
# Wine build does not load the fonts of its data folder, but does those of the prefix's Fonts.
run_driver='wine reg add "HKCU\Software\Wine\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    ln -sf /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
    wine "$@"'

status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$run_driver" run-driver \
    "$driver" "$(windows_path "$gallery")" "$(windows_path "$output")" "$group" || status=$?
wineserver -k 2>/dev/null || true
rm -rf "$prefix"  # half a gigabyte of Windows
for bitmap in "$output"/*.bmp; do
    [ -e "$bitmap" ] || continue
    convert "$bitmap" "${bitmap%.bmp}.png" && rm -f "$bitmap"
done
echo "exit status $status; screenshots in $output"
exit "$status"
