#!/usr/bin/env bash
# Runs a test whose programs come from a build of their own (the Windows program, the fuzz
# targets), so that it is never silently missing from a run:
#   run_if_built.sh WHAT folder=FOLDER PROGRAM... -- COMMAND...
# With FOLDER empty (that build was not given) the test is skipped with the reason (status 77,
# the tests' SKIP_RETURN_CODE); with a PROGRAM missing it fails; otherwise COMMAND runs.
set -uo pipefail
what=$1 folder=${2#folder=}
shift 2
programs=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do programs+=("$1"); shift; done
[ $# -gt 0 ] || { echo "usage: run_if_built.sh WHAT folder=FOLDER PROGRAM... -- COMMAND..." >&2; exit 2; }
shift
if [ -z "$folder" ]; then
    echo "SKIP: no $what build folder was given, so its programs cannot be tested here" \
        "(./run test builds and passes it)"
    exit 77
fi
missing=0
for program in "${programs[@]}"; do
    [ -e "$program" ] || { echo "FAIL: $program is missing: build the $what first"; missing=1; }
done
[ "$missing" = 0 ] || exit 1
exec "$@"
