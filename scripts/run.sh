#!/usr/bin/env bash
# Sets up and runs the main job on a PC: the simulated image module, the
# diagnostic dump of it, and the daemon against it.
#
#   scripts/run.sh                 sandbox root build/host/rig, daemon for 10 s
#   OPTAD_ROOT=/tmp/rig scripts/run.sh
#   OPTAD_RUN_SECONDS=0 scripts/run.sh    run the daemon until Ctrl-C
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host --target optad rigdump optad-sim

bin="$PWD/build/host/bin"
export OPTAD_ROOT="${OPTAD_ROOT:-$PWD/build/host/rig}"
# The simulator's Unix socket lives in the root; socket paths are limited to
# 107 bytes, so a deep checkout runs in a short temporary root instead.
if [ ${#OPTAD_ROOT} -gt 70 ]; then
  OPTAD_ROOT="$(mktemp -d /tmp/optad-rig.XXXXXX)"
fi
mkdir -p "$OPTAD_ROOT/etc/optad" "$OPTAD_ROOT/var/run/optad" \
         "$OPTAD_ROOT/etc/legacyconfig/legacymappings.d" \
         "$OPTAD_ROOT/lib/persistent/var/lib/optics"

"$bin/optad-sim" stop >/dev/null 2>&1 || true
"$bin/optad-sim" start
trap '"$bin/optad-sim" stop >/dev/null 2>&1 || true' EXIT

echo "== The simulated module, powered directly, as rigdump sees it"
"$bin/optad-sim" ctl power on >/dev/null
"$bin/rigdump" --all 2>/dev/null || echo "(rigdump exit status $?)"
"$bin/optad-sim" ctl power off >/dev/null

echo
echo "== optad against the simulated module (sandbox root $OPTAD_ROOT)"
seconds="${OPTAD_RUN_SECONDS:-10}"
if [ "$seconds" = 0 ]; then
  "$bin/optad" || true
else
  timeout --foreground "$seconds" "$bin/optad" || true
fi
echo
echo "== Its configuration file, $OPTAD_ROOT/etc/optad/optad.conf"
cat "$OPTAD_ROOT/etc/optad/optad.conf" 2>/dev/null || echo "(none written)"
