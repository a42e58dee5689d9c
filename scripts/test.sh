#!/usr/bin/env bash
# Sets up what is needed, builds and runs the whole test suite.
#   scripts/test.sh            the host build (default)
#   scripts/test.sh host-asan  also: host-tsan, armhf (ARM binaries under qemu)
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-host}"
scripts/setup-deps.sh "$preset"
cmake --preset "$preset"
cmake --build --preset "$preset"
# Most system tests spend their time in the daemon's real-time waits, not on
# the CPU: three at a time keep the two cores busy, four in the plain host
# build, whose long real-time scenarios (minutes of resends, time-outs and
# checks that run in it alone) wait nearly all the time.
jobs=3
[ "$preset" = host ] && jobs=4
ctest --preset "$preset" -j"$jobs"
