#!/usr/bin/env bash
# Configures and builds Padix. Usage: scripts/build.sh [BUILD_DIR [CMAKE_OPTIONS...]]
# (default build/, release with debug information).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir"
# padix looks for the device picture in its working directory: put it where the README starts
# it from too.
if [ -f "$dir/TarnicBackgroundPic.png" ]; then cp -f "$dir/TarnicBackgroundPic.png" .; fi
