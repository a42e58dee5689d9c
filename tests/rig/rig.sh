#!/usr/bin/env bash
# The D-Bus rig by hand: a private bus configured like the camera's system
# bus, with the daemon's policy, and any of the mocked peers, for one sandbox
# root. The tests build the same rig themselves (tests/support/rig.h).
#
#   tests/rig/rig.sh start ROOT [PEER[=JSON]]...   prints the bus address
#   tests/rig/rig.sh peer ROOT PEER[=JSON]          starts one more peer
#   tests/rig/rig.sh stop-peer ROOT PEER
#   tests/rig/rig.sh stop ROOT                      peers first, then the bus
#
# PEER is framerd, wattd, rotation or captiond; JSON the mock's parameters
# (see the header of tests/rig/mocks/PEER.py), for example
#   export DBUS_SYSTEM_BUS_ADDRESS=$(tests/rig/rig.sh start /tmp/rig framerd \
#       wattd='{"grant": 10.0}' rotation captiond)
#   OPTAD_ROOT=/tmp/rig build/host/bin/optad
#   gdbus call --system --dest com.tavik.PrioritizedTextOverlay \
#       --object-path /com/tavik/PrioritizedTextOverlay/1 \
#       --method org.freedesktop.DBus.Mock.GetCalls
#   tests/rig/rig.sh stop /tmp/rig
#
# Everything lives in ROOT/rig: the generated bus configuration, the pid
# files, the address and each program's output (NAME.out, NAME.err). The
# bus socket is ROOT/var/run/dbus/system_bus_socket.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
python=/usr/bin/python3   # Debian's, with python3-dbusmock and python3-gi

die() { echo "rig.sh: $*" >&2; exit 1; }

peer_name() {
  case "$1" in
    framerd) echo com.tavik.ImageControl ;;
    wattd) echo com.tavik.PowerControl.Consumer ;;
    rotation) echo com.tavik.Rotation1 ;;
    captiond) echo com.tavik.PrioritizedTextOverlay ;;
    *) die "unknown peer $1 (framerd, wattd, rotation, captiond)" ;;
  esac
}

has_owner() {
  gdbus call --address "$address" --dest org.freedesktop.DBus \
    --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner "$1" \
    2>/dev/null | grep -q true
}

stop_pid_file() {
  local file="$1"
  [ -f "$file" ] || return 0
  local pid
  pid="$(cat "$file")"
  rm -f "$file"
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
}

start_bus() {
  # The socket must be reachable by unprivileged clients (the policy tests
  # connect as nobody): the root made by mktemp -d is 0700.
  mkdir -p "$rig" "$root/var/run/dbus"
  chmod 0711 "$root"
  chmod 0755 "$root/var" "$root/var/run" "$root/var/run/dbus"
  local socket="$root/var/run/dbus/system_bus_socket"
  [ ${#socket} -lt 108 ] || die "socket path too long for a Unix socket: $socket"
  rm -f "$socket"
  sed -e "s|@LISTEN_ADDRESS@|unix:path=$socket|g" \
      -e "s|@SERVICE_POLICY@|$source_dir/dbus/com.tavik.ImcControl.conf|g" \
      -e "s|@PEERS_POLICY@|$here/bus/peers.conf|g" \
      "$here/bus/system-bus.conf.in" >"$rig/bus.conf"
  : >"$rig/bus.address"
  setsid /usr/bin/dbus-daemon --nofork --print-address=3 --config-file="$rig/bus.conf" \
    3>"$rig/bus.address" >"$rig/dbus-daemon.out" 2>"$rig/dbus-daemon.err" </dev/null &
  echo $! >"$rig/bus.pid"
  for _ in $(seq 200); do
    if [ -s "$rig/bus.address" ]; then
      address="$(head -n1 "$rig/bus.address")"
      return 0
    fi
    kill -0 "$(cat "$rig/bus.pid")" 2>/dev/null || break
    sleep 0.05
  done
  cat "$rig/dbus-daemon.err" >&2
  die "dbus-daemon did not start"
}

start_peer() {
  local arg="$1" peer json name
  peer="${arg%%=*}"
  json=""
  [ "$peer" = "$arg" ] || json="${arg#*=}"
  name="$(peer_name "$peer")"
  has_owner "$name" && die "$name already has an owner"
  local args=(-m dbusmock --system --template "$here/mocks/$peer.py")
  [ -z "$json" ] || args+=(-p "$json")
  env -i PATH="$PATH" PYTHONDONTWRITEBYTECODE=1 DBUS_SYSTEM_BUS_ADDRESS="$address" \
    setsid "$python" "${args[@]}" >"$rig/$peer.out" 2>"$rig/$peer.err" </dev/null &
  echo $! >"$rig/$peer.pid"
  for _ in $(seq 200); do
    has_owner "$name" && return 0
    kill -0 "$(cat "$rig/$peer.pid")" 2>/dev/null || break
    sleep 0.05
  done
  cat "$rig/$peer.err" >&2
  die "$peer ($name) did not come up"
}

[ $# -ge 2 ] || die "usage: rig.sh start|peer|stop-peer|stop ROOT [PEER[=JSON]]..."
command="$1"
root="$(mkdir -p "$2" && cd "$2" && pwd)"
rig="$root/rig"
shift 2
unset DBUS_SESSION_BUS_ADDRESS

case "$command" in
  start)
    [ ! -f "$rig/bus.pid" ] || ! kill -0 "$(cat "$rig/bus.pid")" 2>/dev/null ||
      die "a rig runs in $root already (rig.sh stop $root)"
    start_bus
    for arg in "$@"; do start_peer "$arg"; done
    echo "$address"
    ;;
  peer)
    address="$(head -n1 "$rig/bus.address" 2>/dev/null)" || die "no rig in $root"
    for arg in "$@"; do start_peer "$arg"; done
    ;;
  stop-peer)
    for peer in "$@"; do peer_name "$peer" >/dev/null; stop_pid_file "$rig/$peer.pid"; done
    ;;
  stop)
    for peer in framerd wattd rotation captiond; do stop_pid_file "$rig/$peer.pid"; done
    stop_pid_file "$rig/bus.pid"
    ;;
  *) die "unknown command $command" ;;
esac
