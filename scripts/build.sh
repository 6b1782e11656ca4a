#!/usr/bin/env bash
# Configures and builds Padix. Usage: scripts/build.sh [BUILD_DIR [CMAKE_OPTIONS...]]
# (default build/, release with debug information).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir"
