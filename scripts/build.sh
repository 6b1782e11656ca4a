#!/usr/bin/env bash
# Configures and builds Padix. Usage: scripts/build.sh [--target TARGET]... [BUILD_DIR [CMAKE_OPTIONS...]]
# (default build/, release with debug information; every target unless some are named).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
while [ "${1:-}" = "--target" ]; do
  targets+=(--target "$2")
  shift 2
done
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" "${targets[@]}"
# padix finds the device picture in its working directory or beside itself: put it where the
# README starts it from too.
if [ -f "$dir/TarnicBackgroundPic.png" ]; then cp -f "$dir/TarnicBackgroundPic.png" .; fi
