#!/bin/sh
# The test rig's stand-in for the camera's temperature check, which the
# daemon runs before every power-up of the image module until it exits 0.
#
# It exits 0, unless the counter file optad_temperature.fail beside it holds
# a number N above 0: then it writes N-1 back and exits 1, so that a test
# can make it report "too cold" a given number of times.
counter="$(dirname -- "$0")/optad_temperature.fail"
[ -f "$counter" ] || exit 0
n=
read -r n < "$counter" || :
case $n in
'' | *[!0-9]*) exit 0 ;;
esac
[ "$n" -gt 0 ] || exit 0
echo $((n - 1)) > "$counter"
exit 1
