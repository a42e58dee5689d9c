#!/usr/bin/env bash
# Sets up and runs the main job on a PC: the simulated image module, a
# private system bus with the daemon's policy and the camera's other
# services (mocked), and the daemon against them.
#
#   scripts/run.sh                        sandbox root build/host/rig, daemon for 10 s
#   OPTAD_ROOT=/tmp/rig scripts/run.sh
#   OPTAD_RUN_SECONDS=0 scripts/run.sh    keep the daemon running until Ctrl-C
#   OPTAD_GRANT_W=15.99 scripts/run.sh    the power budget service grants too little
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host --target optad rigdump optad-sim

bin="$PWD/build/host/bin"
rig="$PWD/tests/rig/rig.sh"
export OPTAD_ROOT="${OPTAD_ROOT:-$PWD/build/host/rig}"
# The simulator's and the bus's Unix sockets live in the root; socket paths
# are limited to 107 bytes, so a deep checkout runs in a short temporary
# root instead.
if [ ${#OPTAD_ROOT} -gt 60 ]; then
  OPTAD_ROOT="$(mktemp -d /tmp/optad-rig.XXXXXX)"
fi
mkdir -p "$OPTAD_ROOT/etc/optad" "$OPTAD_ROOT/var/run/optad" \
         "$OPTAD_ROOT/etc/legacyconfig/legacymappings.d" \
         "$OPTAD_ROOT/lib/persistent/var/lib/optics"
log="$OPTAD_ROOT/optad.log"

cleanup() {
  [ -z "${optad_pid:-}" ] || kill "$optad_pid" 2>/dev/null || true
  [ -z "${monitor_pid:-}" ] || kill "$monitor_pid" 2>/dev/null || true
  "$rig" stop "$OPTAD_ROOT" >/dev/null 2>&1 || true
  "$bin/optad-sim" stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
"$rig" stop "$OPTAD_ROOT" >/dev/null 2>&1 || true
"$bin/optad-sim" stop >/dev/null 2>&1 || true

# Waits (up to 20 s) until the daemon's log has a line containing $1.
wait_for_log() {
  for _ in $(seq 200); do
    grep -q -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "(not seen in the daemon's log: $1)"
  return 1
}

section() { printf '\n== %s\n' "$*"; }

section "The simulated module, powered directly, as rigdump sees it"
"$bin/optad-sim" start
"$bin/optad-sim" ctl power on >/dev/null
"$bin/rigdump" --all 2>/dev/null || echo "(rigdump exit status $?)"
"$bin/optad-sim" ctl power off >/dev/null

section "A private system bus with the daemon's policy, and the camera's services"
grant="${OPTAD_GRANT_W:-25.0}"
DBUS_SYSTEM_BUS_ADDRESS="$("$rig" start "$OPTAD_ROOT" framerd wattd="{\"grant\": $grant}" rotation captiond)"
export DBUS_SYSTEM_BUS_ADDRESS
echo "bus: $DBUS_SYSTEM_BUS_ADDRESS"
echo "peers: framerd (image pipeline), wattd (power budget, grants $grant W), rotation, captiond (overlays)"

section "optad starts (its log: $log)"
OPTAD_VERBOSE="${OPTAD_VERBOSE:-1}" "$bin/optad" >"$log" 2>&1 &
optad_pid=$!
wait_for_log "Created datacache" || true
# The power budget service calls back with its grant; the main loop then
# checks the power and goes on to power the module up.
wait_for_log "JT_CHECK_POWER\|power_up\|POE" || true
sleep 0.5
echo "-- the power budget service saw:"
gdbus call --system --dest com.tavik.PowerControl.Consumer \
  --object-path /com/tavik/PowerControl/Consumer --method org.freedesktop.DBus.Mock.GetCalls |
  sed 's/), (/),\n  (/g'
echo "-- the daemon's log so far:"
sed 's/^/  /' "$log" | head -n 60

section "The parameter service: gdbus introspect"
gdbus introspect --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl |
  sed -n '/interface com.tavik.Configuration.Legacy/,/^  };/p'

section "One SetProperties call and the PropertiesChanged it produces"
gdbus monitor --system --dest com.tavik.ImcControl >"$OPTAD_ROOT/monitor.out" 2>&1 &
monitor_pid=$!
sleep 0.5
echo "\$ gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \\"
echo "    --method com.tavik.Configuration.Legacy.SetProperties com.tavik.Configuration.Legacy \"[('Brightness', <70>), ('WhiteBalance', <b'sodium'>)]\""
gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \
  --method com.tavik.Configuration.Legacy.SetProperties com.tavik.Configuration.Legacy \
  "[('Brightness', <70>), ('WhiteBalance', <b'sodium'>)]"
sleep 0.5
kill "$monitor_pid" 2>/dev/null || true
monitor_pid=
grep -A1 PropertiesChanged "$OPTAD_ROOT/monitor.out" | grep -v '^--$' || echo "(no signal seen)"

section "The overlays captiond received, in order"
gdbus call --system --dest com.tavik.PrioritizedTextOverlay \
  --object-path /com/tavik/PrioritizedTextOverlay/1 --method org.freedesktop.DBus.Mock.GetCalls |
  sed 's/), (/),\n  (/g'

section "Talking to the running daemon from a second terminal"
cat <<EOF
  export DBUS_SYSTEM_BUS_ADDRESS='$DBUS_SYSTEM_BUS_ADDRESS'
  gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \\
    --method org.freedesktop.DBus.Properties.Get com.tavik.Configuration.Legacy Exposure
  gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \\
    --method com.tavik.Configuration.Legacy.GetRanges com.tavik.Configuration.Legacy "['MaxGain']"
  gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \\
    --method org.freedesktop.DBus.Properties.Set com.tavik.Configuration.Legacy Sharpness '<60>'
  gdbus monitor --system --dest com.tavik.ImcControl          # every PropertiesChanged
  # the camera's services are mocks (tests/rig/mocks/*.py), driven the same way:
  gdbus call --system --dest com.tavik.ImageControl --object-path /com/tavik/ImageControl/0/0 \\
    --method org.freedesktop.DBus.Mock.SetCaptureFrequency 60Hz
  gdbus call --system --dest com.tavik.PowerControl.Consumer --object-path /com/tavik/PowerControl/Consumer \\
    --method org.freedesktop.DBus.Mock.Grant 12.0
  tail -f $log                                                 # the daemon's log
EOF

seconds="${OPTAD_RUN_SECONDS:-10}"
if [ "$seconds" = 0 ]; then
  section "optad runs until Ctrl-C"
  wait "$optad_pid" || true
else
  section "optad runs for $seconds s more"
  sleep "$seconds"
fi

section "Its configuration file, $OPTAD_ROOT/etc/optad/optad.conf"
cat "$OPTAD_ROOT/etc/optad/optad.conf" 2>/dev/null || echo "(none written)"
