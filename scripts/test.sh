#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test:
#  1. the suite as built for users, with the long stress runs (tests/stress) beside the stages;
#  2. the suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#  3. the threaded end-to-end scenarios under ThreadSanitizer;
#  4. each fuzz target for 30 seconds (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
started=$SECONDS
stage() { echo "=== $1 ($((SECONDS - started)) s)"; }

stage "build"
scripts/build.sh build -DPADIX_WERROR=ON

# The stress runs wait on the device's own timings for minutes with little CPU: they run in the
# background while the other stages build and test.
stress_pid=""
if [ -x build/test_stress ]; then
  stage "stress runs started in the background"
  PADIX_BIN_DIR="$PWD/build" build/test_stress >build/stress.log 2>&1 &
  stress_pid=$!
  # A stage that fails ends the script: the stress runs end with it.
  trap '[ -n "$stress_pid" ] && kill "$stress_pid" 2>/dev/null || true' EXIT
fi

stage "tests"
(cd build && ctest --output-on-failure -j2 --timeout 600)

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/build.sh build-asan -DPADIX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DPADIX_SANITIZE=address
stage "AddressSanitizer + UndefinedBehaviorSanitizer tests"
(cd build-asan && ctest --output-on-failure -j2 --timeout 900)

stage "ThreadSanitizer build"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPADIX_WERROR=ON \
  -DPADIX_SANITIZE=thread >/dev/null
cmake --build build-tsan --target test_e2e padix-headless
stage "ThreadSanitizer end-to-end scenarios"
(cd build-tsan && ctest --output-on-failure -j2 --timeout 900 -L e2e)

stage "fuzzing"
scripts/fuzz.sh 30

if [ -n "$stress_pid" ]; then
  stage "waiting for the stress runs"
  if ! wait "$stress_pid"; then
    cat build/stress.log
    echo "stress runs failed" >&2
    exit 1
  fi
  grep -E "^\[( +OK|  PASSED)|threads .* fds|side by side|windows closed" build/stress.log || true
fi
stage "all passed"
