# A private X server and a fresh Wine prefix for one run of a Windows program, sourced by the
# Wine tests and the Windows benchmark. The caller keeps STARTED_PIDS (what it stops on exit) and
# runs in the folder where the logs go.

source "$(dirname "${BASH_SOURCE[0]}")/fail.sh"

# windows_path PATH: PATH as the Windows program sees it through Wine's drive Z:.
windows_path() { echo "Z:${1//\//\\}"; }

# start_wine_session PREFIX: Xvfb on a free display, then the prefix set up in PREFIX; exports
# DISPLAY and WINEPREFIX.
start_wine_session() {
    local i
    # With -displayfd Xvfb takes a free display number itself, without a race.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display >xvfb.log 2>&1 &
    STARTED_PIDS+=($!)
    for ((i = 0; i < 300; i++)); do [ -s display ] && break; sleep 0.1; done
    [ -s display ] || fail "Xvfb did not start"
    export DISPLAY=:$(head -1 display)
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # With no window manager Wine draws frames and captions itself, so screenshots show whole
    # dialogs.
    timeout 180 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        >wine-setup.log 2>&1 || fail "Wine did not set up its prefix"
    # Wine draws the caption buttons (the close box) with its Marlett font, from fonts-wine; this
    # Wine build does not load the fonts of its data folder, but does those of the prefix's Fonts.
    ln -sf /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
}

# stop_wine_session PREFIX: ends the prefix's wineserver, stops each of STARTED_PIDS and waits for
# each alone (a bare wait would wait for a tee of the caller's output too), then removes PREFIX,
# half a gigabyte of Windows.
stop_wine_session() {
    WINEPREFIX=$1 wineserver -k 2>/dev/null || true
    local pid
    for pid in "${STARTED_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$1"
}
