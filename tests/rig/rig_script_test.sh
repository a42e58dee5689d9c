#!/usr/bin/env bash
# rig.sh starts a bus with the daemon's policy and the peers for a sandbox
# root, prints an address that reaches them, and leaves nothing running
# after stop.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(mktemp -d /tmp/optad-rig-test.XXXXXX)"
cleanup() { "$here/rig.sh" stop "$root" >/dev/null 2>&1 || true; rm -rf "$root"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

address="$("$here/rig.sh" start "$root" framerd='{"CaptureMode": 2}' captiond)"
case "$address" in
  "unix:path=$root/var/run/dbus/system_bus_socket,guid="*) ;;
  *) fail "unexpected address: $address" ;;
esac
export DBUS_SYSTEM_BUS_ADDRESS="$address"
unset DBUS_SESSION_BUS_ADDRESS

reply="$(gdbus call --system --dest com.tavik.ImageControl --object-path /com/tavik/ImageControl/0/0 \
  --method org.freedesktop.DBus.Properties.Get com.tavik.Configuration.Legacy CaptureMode)"
[ "$reply" = "(<2>,)" ] || fail "framerd's CaptureMode: $reply"

# The daemon's policy is in force: nobody may not own its name.
if setpriv --reuid=nobody --regid=nogroup --clear-groups gdbus call --system --dest org.freedesktop.DBus \
    --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.RequestName com.tavik.ImcControl 4 \
    2>"$root/denied.err"; then
  fail "nobody could own com.tavik.ImcControl"
fi
grep -q AccessDenied "$root/denied.err" || fail "not a policy denial: $(cat "$root/denied.err")"

"$here/rig.sh" peer "$root" rotation
reply="$(gdbus call --system --dest com.tavik.Rotation1 --object-path /com/tavik/Rotation1/Channel/1 \
  --method org.freedesktop.DBus.Properties.Get com.tavik.Rotation1.Channel Rotation)"
[ "$reply" = "(<0>,)" ] || fail "rotation: $reply"

pids="$(cat "$root"/rig/*.pid)"
"$here/rig.sh" stop "$root"
for pid in $pids; do
  if kill -0 "$pid" 2>/dev/null && [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ]; then
    fail "process $pid still runs after stop"
  fi
done
[ ! -e "$root/rig/bus.pid" ] || fail "bus.pid left behind"
echo "rig.sh: ok"
