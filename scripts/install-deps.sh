#!/usr/bin/env bash
# Installs what building, running and testing Padix needs on Debian 12, if it is missing.
# With the argument "test" it also installs what only the test run needs (clang and its
# fuzzing runtime, and the checkers of the installed desktop entry and manual pages).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  dpkg-dev file gzip
  libgtk-3-dev libcairo2-dev libx11-dev libxtst-dev libpulse-dev libtomlplusplus-dev
  libgtest-dev libgmock-dev googletest
  xvfb xauth
)
if [ "${1:-}" = "test" ]; then
  PACKAGES+=(clang libclang-rt-14-dev desktop-file-utils man-db groff-base python3 python3-can python3-scapy)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  # A Debian installed with a root password has no sudo: root installs the packages instead.
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "sudo is not installed: install them as root, then run this command again:" >&2
    echo "  su -c 'apt-get update && apt-get install -y ${missing[*]}'" >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
