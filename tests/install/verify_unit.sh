#!/bin/sh
# verify_unit.sh CMAKE BUILD_DIR STAGE_DIR
#
# Installs the build into STAGE_DIR/root with prefix /usr, checks that the
# tree holds exactly the camera's files, and runs `systemd-analyze verify`
# on the installed unit with that root. Exit 0 when all is well, 77 when
# systemd-analyze is not installed, 1 otherwise.
set -u
cmake=$1
build=$2
stage=$3
root=$stage/root

if ! command -v systemd-analyze >/dev/null 2>&1; then
  echo "systemd-analyze is not installed"
  exit 77
fi

fail() {
  echo "FAIL: $*"
  exit 1
}

rm -rf "$stage"
mkdir -p "$root" || fail "cannot make $root"
DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$stage/install.log" 2>&1 ||
  { cat "$stage/install.log"; fail "cmake --install failed"; }

# Exactly these files: the programs, the unit, the bus policy; no
# simulator, no tests.
expected="usr/bin/optad
usr/bin/rigdump
usr/lib/systemd/system/optad.service
usr/share/dbus-1/system.d/com.tavik.ImcControl.conf"
installed=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
  printf 'installed:\n%s\nexpected:\n%s\n' "$installed" "$expected"
  fail "the installed tree is not the expected one"
fi
for program in usr/bin/optad usr/bin/rigdump; do
  [ -x "$root/$program" ] || fail "$program is not executable"
done

# The unit's dependencies (sysinit.target, dbus.socket, multi-user.target,
# ...) belong to the system, not to this project: the root gets a copy of
# this machine's units as runtime units. A copy of our own unit the machine
# may have is left out, so that only the installed one is verified.
system_units=
for dir in /usr/lib/systemd/system /lib/systemd/system; do
  if [ -f "$dir/sysinit.target" ]; then
    system_units=$dir
    break
  fi
done
[ -n "$system_units" ] || fail "no systemd unit directory with sysinit.target on this machine"
mkdir -p "$root/run/systemd" && cp -a "$system_units" "$root/run/systemd/system" ||
  fail "cannot copy the system's units"
rm -f "$root/run/systemd/system/optad.service"

# verify exits 0 even for unknown keys or values it ignores; every line it
# prints about this unit (its name, its file or its program) is a fault.
output=$(systemd-analyze verify --root="$root" optad.service 2>&1)
rc=$?
[ -n "$output" ] && printf '%s\n' "$output"
[ $rc -eq 0 ] || fail "systemd-analyze verify exited with $rc"
if printf '%s\n' "$output" | grep -q optad; then
  fail "systemd-analyze verify found faults in the unit"
fi

rm -rf "$stage"
echo "optad.service verifies against the installed tree"
exit 0
