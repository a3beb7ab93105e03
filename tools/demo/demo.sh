#!/usr/bin/env bash
# A whole upgrade in the console, for a newcomer: a simulated TEV adapter with a password on
# 127.0.0.2 in a private network namespace, and the upgrader talking to it from 127.0.0.1.
# Usage: demo.sh UPGRADER DEVICE IMAGE [--auto]
#   IMAGE is the firmware the upgrader carries; --auto answers the questions itself.
set -euo pipefail
if [ $# -lt 3 ] || { [ $# -eq 4 ] && [ "$4" != --auto ]; } || [ $# -gt 4 ]; then
    echo "usage: $0 UPGRADER DEVICE IMAGE [--auto]" >&2
    exit 2
fi
UPGRADER=$1 DEVICE=$2 IMAGE=$3 AUTO=${4:-}
ADDRESS=127.0.0.2 USER_NAME=admin PASSWORD=admin

# Only loopback exists in the namespace, so nothing can leave this machine; as another user than
# root a user namespace lends the rights to bind port 80 there.
if [ -z "${TEV_DEMO_IN_NAMESPACE:-}" ]; then
    namespace=(unshare -n)
    [ "$(id -u)" = 0 ] || namespace=(unshare -rn)
    exec env TEV_DEMO_IN_NAMESPACE=1 "${namespace[@]}" -- "$0" "$@"
fi
ip link set lo up

work=$(mktemp -d "${TMPDIR:-/tmp}/tev-demo.XXXXXX")
device_pid=
cleanup() {
    if [ -n "$device_pid" ]; then
        kill "$device_pid" 2>/dev/null || true
        wait "$device_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

"$DEVICE" --address "$ADDRESS" --user "$USER_NAME" --password "$PASSWORD" --flash-time 5 \
    --software-version "3.1.8(a)" --log "$work/device.log" --image-file "$work/device.bin" \
    --quiet >"$work/device.out" 2>&1 &
device_pid=$!
for ((i = 0; i < 200; i++)); do
    grep -q "ready on" "$work/device.out" 2>/dev/null && break
    kill -0 "$device_pid" 2>/dev/null || { cat "$work/device.out" >&2; exit 1; }
    sleep 0.05
done
grep -q "ready on" "$work/device.out" || { echo "the simulated device did not start" >&2; exit 1; }

cat <<TXT
A simulated TEV adapter is running at $ADDRESS (user "$USER_NAME", password "$PASSWORD"),
in a network of its own that only this demonstration sees; this computer is 127.0.0.1 there.
The upgrader now asks its questions one dialog at a time. Answer:

  Continue/Cancel       type   continue
  TEV IP Address        type   $ADDRESS
  Your IP Address       Enter  (127.0.0.1)
  OK/Cancel             Enter
  User                  Enter  ($USER_NAME)
  Password              type   $PASSWORD
  OK/Cancel             Enter
  Upgrade/Cancel        Enter  (the confirmation shows what the device reported)
  ... the image goes over TFTP, then about 30 s of waiting while the device writes its flash ...
  OK                    Enter  (the success dialog)

Enter alone takes what is in brackets; the end of input or Ctrl-C is Cancel.
TXT
[ -z "$AUTO" ] || echo "(--auto: the answers are typed for you)"

status=0
if [ -n "$AUTO" ]; then
    printf 'continue\n%s\n\n\n\n%s\n\n\n\n' "$ADDRESS" "$PASSWORD" | "$UPGRADER" || status=$?
else
    "$UPGRADER" || status=$?
fi

echo
echo "--- The upgrader ended with status $status. What the device saw:"
grep -E 'upgrade: order|tftp: (RRQ|complete)|flash: (writing|done)|auth: (accepted|refused)' \
    "$work/device.log" | sed 's/^\[ *[0-9.]*\] /  /' || echo "  no upgrade order: the upgrade ended before it"
if [ -f "$work/device.bin" ]; then
    if cmp -s "$work/device.bin" "$IMAGE"; then
        echo "The device keeps the upgrader's image byte for byte ($(stat -c %s "$IMAGE") bytes)."
    else
        echo "The image the device keeps differs from the upgrader's."
        status=1
    fi
fi
exit "$status"
