#!/usr/bin/env bash
# Installs what is missing, builds what running needs (the two programs and the device picture,
# not the tests and benchmarks), and starts Padix in emulator mode (extra arguments are passed
# to padix). The device picture lives in build/, beside padix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh --target padix --target padix-headless --target device_picture build
cd build
exec ./padix "$@"
