#!/usr/bin/env bash
# Every log line the support page (docs/support-log.md, which README links) quotes is one the
# program writes. The quoted texts are those in backquotes from the table of "When an upgrade
# fails" on, and in "As an ordinary user"; each
# placeholder in them (A.B.C.D, N, PORT, NAME, "X", "Y", "...") stands for any value, and some
# line of the logs written by the end-to-end tests support_log and real_hosts (ctest runs them
# first) must match the text.
set -euo pipefail
for argument in "$@"; do
    case $argument in WORK=*) WORK=${argument#WORK=} ;; esac
done
: "${WORK:?}"
readme=$(dirname "$0")/../../docs/support-log.md
shopt -s nullglob
e2e_work=$(dirname "$WORK")
logs=("$e2e_work"/support_log/*.trace "$e2e_work"/real_hosts/*.trace)
[ "${#logs[@]}" -ge 4 ] || { echo "FAIL: the logs of support_log and real_hosts are missing" >&2; exit 1; }

python3 - "$readme" "${logs[@]}" <<'PYTHON'
import re, sys

readme, logs = sys.argv[1], sys.argv[2:]
quoted, part = [], None
for line in open(readme, encoding="utf-8"):
    if line.startswith("#"):
        part = "user" if line.strip("# \n") == "As an ordinary user" else None
    elif line.startswith("The failures met most often:"):
        part = "failures"
    if part:
        quoted += re.findall(r"`([^`]+)`", line)

PLACEHOLDERS = [
    (r"A\\\.B\\\.C\\\.D", r"[0-9]+(\.[0-9]+){3}"),
    (r"\\\.\\\.\\\.", r".*"),
    (r'"[XY]"', r'"[^"]*"'),
    (r"\b(N|PORT)\b", r"[0-9]+"),
    (r"\bNAME\b", r"[^ ]+"),
]

def pattern(text):
    regex = re.escape(text).replace("\\ ", " ")
    for placeholder, value in PLACEHOLDERS:
        regex = re.sub(placeholder, lambda _: value, regex)
    return re.compile(regex)

lines = [line for log in logs for line in open(log, encoding="utf-8", errors="replace")]
missing = [text for text in quoted if not any(pattern(text).search(line) for line in lines)]
print(f"{len(quoted)} quoted log lines, {len(lines)} log lines")
for text in missing:
    print(f"FAIL: {readme} quotes a line no log holds: {text}", file=sys.stderr)
sys.exit(1 if missing or len(quoted) < 15 else 0)
PYTHON
echo ok
