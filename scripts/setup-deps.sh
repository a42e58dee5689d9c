#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need. Idempotent: does
# nothing when everything is there already. Needs root (or sudo) otherwise.
#   scripts/setup-deps.sh          what every preset but fuzz needs
#   scripts/setup-deps.sh fuzz     also clang and libFuzzer (the fuzz preset)
# The fuzz preset's compiler is asked for only by that preset: clang is a
# large install that no other build uses.
set -euo pipefail

preset="${1:-}"

# The D-Bus rig of the tests (tests/rig) runs dbus-daemon, Debian's python3
# with python3-dbusmock and python3-gi, gdbus (libglib2.0-bin) and setpriv
# (util-linux). The install test verifies the daemon's unit with
# systemd-analyze (systemd).
packages=(
  build-essential cmake ninja-build pkg-config
  libglib2.0-dev libglib2.0-bin
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  dbus dbus-daemon python3 python3-dbusmock python3-gi
  util-linux systemd
  g++-arm-linux-gnueabihf qemu-user libglib2.0-dev:armhf libstdc++6:armhf
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  "${sudo_cmd[@]}" dpkg --add-architecture armhf
  need_update=1
fi

updated=0
# Installs those of the given packages that are missing.
install_missing() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  if [ "$updated" -eq 0 ]; then
    "${sudo_cmd[@]}" apt-get update -q
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

if [ "$preset" = fuzz ]; then
  # Debian's default clang, then the libFuzzer and sanitizer runtimes of
  # that same clang version (clang-N's compiler-rt only recommends them).
  install_missing clang
  clang_major=$(clang -dumpversion | cut -d. -f1)
  install_missing "libfuzzer-${clang_major}-dev" "libclang-rt-${clang_major}-dev"
fi
