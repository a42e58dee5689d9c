#!/usr/bin/env bash
# Sets up and runs the main job on a PC: the simulated image module, a
# private system bus with the daemon's policy and the camera's other
# services (mocked), and the daemon against them.
#
#   scripts/run.sh                        sandbox root build/host/rig, daemon for 10 s
#   OPTAD_ROOT=/tmp/rig scripts/run.sh
#   OPTAD_RUN_SECONDS=0 scripts/run.sh    keep the daemon running until Ctrl-C
#   OPTAD_GRANT_W=15.99 scripts/run.sh    the power budget service grants too little
#   OPTAD_FIRMWARE_REVISION=310 scripts/run.sh   an image the IMC (at 300) is upgraded to
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host --target optad rigdump optad-sim make-imc-image

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

# The board data of the camera's image: the PMIC command files, the
# temperature script and the IMC firmware image (the simulated IMC leaves
# the factory at revision 300).
board="$PWD/tests/rig/board"
install -D -m 0644 "$board/imc_pmic_init_cmd_de" "$OPTAD_ROOT/usr/share/imc_pmic_init_cmd_de"
install -D -m 0644 "$board/imc_pmic_init_cmd_dc" "$OPTAD_ROOT/usr/share/imc_pmic_init_cmd_dc"
install -D -m 0755 "$board/optad_temperature.sh" "$OPTAD_ROOT/usr/bin/optad_temperature.sh"
rm -f "$OPTAD_ROOT/usr/bin/optad_temperature.fail" "$OPTAD_ROOT/var/run/optad/imc_status"
revision="${OPTAD_FIRMWARE_REVISION:-300}"
mkdir -p "$OPTAD_ROOT/usr/lib/firmware/optad"
"$bin/make-imc-image" --revision "$revision" --size 262144 "$OPTAD_ROOT/usr/lib/firmware/optad/IMC.app"

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
"$bin/optad-sim" ctl clear >/dev/null

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
# checks the power, powers the module up, takes its first interrupt and
# checks (and if need be upgrades) the IMC's firmware.
wait_for_log "OPTAD_STARTUP_UPDATE_PARAMS" || true
# The first status poll starts the parameter sync: every parameter is sent
# to the IMC and confirmed against its status block, then the daemon waits
# for the video stream and is running.
wait_for_log "OPTAD state changed to OPTAD_STARTUP_DONE" || true
sleep 0.5
echo "-- the power budget service saw:"
gdbus call --system --dest com.tavik.PowerControl.Consumer \
  --object-path /com/tavik/PowerControl/Consumer --method org.freedesktop.DBus.Mock.GetCalls |
  sed 's/), (/),\n  (/g'
echo "-- the daemon's log up to the parameter sync (without the status polls):"
sed '/OPTAD_STARTUP_UPDATE_PARAMS/q' "$log" |
  grep -v 'spi_check_req_timer\|Check Camera Status\|^optad: [0-9A-F][0-9A-F] \|^optad:    00' |
  sed 's/^/  /' | head -n 80
echo "-- the parameter sync: what was sent and confirmed, and the state changes:"
grep 'Successfully sent command for\|Confirmed\|Got no feedback\|OPTAD state changed' "$log" |
  sed 's/^/  /' | head -n 100

section "What the simulated module saw of the power-up"
echo "-- GPIO writes (time in us since the simulator started):"
"$bin/optad-sim" ctl log gpio stamped | grep -v ' ctl ' | sed 's/^/  /'
echo "-- PMIC writes (slave, register, value):"
"$bin/optad-sim" ctl log i2c | grep -v '^ctl ' | sed 's/^/  /'
echo "-- firmware messages received: $("$bin/optad-sim" ctl log imc | grep -c '^fw ' || true)"
echo "-- $OPTAD_ROOT/var/run/optad/imc_status: $(cat "$OPTAD_ROOT/var/run/optad/imc_status" 2>/dev/null || echo '(none)')"
echo "-- set-parameter frames the IMC received in the sync: $("$bin/optad-sim" ctl log imc | grep -c '^....00..0010' || true)"
echo "-- video: $("$bin/optad-sim" ctl show cam0 | grep -i 'black\|stream' | tr '\n' ' ')"
echo "-- violations the simulator logged: $("$bin/optad-sim" ctl log violations | wc -l)"

section "The parameter service: gdbus introspect"
gdbus introspect --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl |
  sed -n '/interface com.tavik.Configuration.Legacy/,/^  };/p'

section "One SetProperties call: PropertiesChanged, the frames on the wire, the IMC's confirmation"
gdbus monitor --system --dest com.tavik.ImcControl >"$OPTAD_ROOT/monitor.out" 2>&1 &
monitor_pid=$!
sleep 0.5
"$bin/optad-sim" ctl clear imc >/dev/null
lines_before=$(wc -l <"$log")
echo "\$ gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \\"
echo "    --method com.tavik.Configuration.Legacy.SetProperties com.tavik.Configuration.Legacy \"[('Brightness', <70>), ('WhiteBalance', <b'sodium'>)]\""
gdbus call --system --dest com.tavik.ImcControl --object-path /com/tavik/ImcControl \
  --method com.tavik.Configuration.Legacy.SetProperties com.tavik.Configuration.Legacy \
  "[('Brightness', <70>), ('WhiteBalance', <b'sodium'>)]"
sleep 1
kill "$monitor_pid" 2>/dev/null || true
monitor_pid=
grep -A1 PropertiesChanged "$OPTAD_ROOT/monitor.out" | grep -v '^--$' || echo "(no signal seen)"
echo "-- set-parameter frames the IMC received (bytes 10-11 group and item, 12 on the value):"
"$bin/optad-sim" ctl log imc | grep -v '^00f8' | sed 's/^/  /'
echo "-- what the IMC's status block shows now (0x45 exposure compensation, 0x70 white balance):"
echo "  0x45: $("$bin/optad-sim" ctl show status 0x45 1)  0x70: $("$bin/optad-sim" ctl show status 0x70 1)"
echo "-- the daemon's confirmations:"
tail -n +"$((lines_before + 1))" "$log" | grep 'Successfully sent\|Confirmed\|Going to send' | sed 's/^/  /'

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
  # faults of the module, by hand (the daemon restarts it; see sim/README.md):
  OPTAD_ROOT='$OPTAD_ROOT' $bin/optad-sim ctl fault power_good drop
  OPTAD_ROOT='$OPTAD_ROOT' $bin/optad-sim ctl log gpio stamped      # what it drove
  # a firmware upgrade: run again with OPTAD_FIRMWARE_REVISION=310 scripts/run.sh
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
