#!/usr/bin/env bash
# check_manifest.py must pass the program's manifest and refuse it with any one declaration
# missing or wrong: each sed expression below spoils one, and the check must name a failure.
#   manifest_check_catches.sh MANIFEST
set -euo pipefail
manifest=$1
check=$(dirname "$0")/check_manifest.py
spoiled=$(mktemp)
trap 'rm -f "$spoiled"' EXIT

if ! python3 "$check" "$manifest"; then
    echo "FAIL: the program's manifest does not pass"
    exit 1
fi
failed=0
while IFS='|' read -r what expression; do
    sed -e "$expression" "$manifest" >"$spoiled"
    if cmp -s "$manifest" "$spoiled"; then
        echo "FAIL: '$expression' changes nothing"; failed=1; continue
    fi
    if said=$(python3 "$check" "$spoiled"); then
        echo "FAIL: passed with $what"; failed=1
    else
        echo "refused $what: ${said##*$'\n'}"
    fi
done <<'CASES'
an administrator's rights|s/"asInvoker"/"requireAdministrator"/
UI access|s/uiAccess="false"/uiAccess="true"/
no execution level|/requestedExecutionLevel/d
the common controls of version 5|s/version="6.0.0.0"/version="5.82.0.0"/
another key of the common controls|s/6595b64144ccf1df/6595b64144ccf1de/
a 64-bit common controls|s/processorArchitecture="\*"/processorArchitecture="amd64"/
no dependency|/<dependency>/,/<\/dependency>/d
per monitor v1 before 1607|s/>true</>true\/pm</
dpiAware in the namespace of 2016|s|2005/WindowsSettings">true|2016/WindowsSettings">true|
per monitor v1 from 1607|s/PerMonitorV2, System/PerMonitor/
no fallback on 1607|s/PerMonitorV2, System/PerMonitorV2/
no Windows 7|/35138b9a-5d96-4fbd-8e2d-a2440225f93a/d
no Windows 8|/4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38/d
no Windows 8.1|/1f676c76-80e1-4239-95bb-83d0f6d0da78/d
no Windows 10 and 11|/8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a/d
a GUID one digit off|s/8e0f7a12-bfb3/8e0f7a13-bfb3/
broken XML|s/<\/assembly>/<\/assembl>/
CASES
[ $failed = 0 ] && echo ok
exit $failed
