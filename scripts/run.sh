#!/usr/bin/env bash
# Installs what is missing, builds, and starts Padix in emulator mode (extra arguments are
# passed to padix). The device picture lives in build/, where padix is started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
cd build
exec ./padix "$@"
