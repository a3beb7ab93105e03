#!/usr/bin/env bash
# Runs a Windows program under Wine on a private X server with a fresh prefix; passes its status on.
set -euo pipefail
prefix=$1; shift
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
status=0
xvfb-run -a -s "-screen 0 1024x768x24" wine "$@" || status=$?
wineserver -k 2>/dev/null || true
echo "exit status $status"
exit "$status"
