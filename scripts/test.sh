#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test: once as built
# for users, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

scripts/build.sh build -DPADIX_WERROR=ON
(cd build && ctest --output-on-failure -j2 --timeout 600)

scripts/build.sh build-asan -DPADIX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DPADIX_SANITIZE=address
(cd build-asan && ctest --output-on-failure -j2 --timeout 900)
