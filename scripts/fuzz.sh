#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 30) from its seed corpus.
# New inputs go to a scratch corpus in the build folder, never into the source tree. A finding
# stops the run with its input saved under build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPADIX_FUZZ=ON -DPADIX_TESTS=OFF -DPADIX_WERROR=ON >/dev/null
targets=(module_line rx_parser cmdline vehicle_file capture_import headless_commands iso_tp uds slcan_line learn_answer)
cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"
mkdir -p build-fuzz/findings
for t in "${targets[@]}"; do
  scratch="build-fuzz/corpus/$t"
  mkdir -p "$scratch"
  echo "fuzzing $t for $seconds s"
  if ! build-fuzz/tests/fuzz/fuzz_$t "$scratch" "tests/fuzz/corpus/$t" \
      -max_total_time="$seconds" -artifact_prefix="build-fuzz/findings/$t-" \
      -print_final_stats=1 2>build-fuzz/fuzz_$t.log; then
    tail -n 60 build-fuzz/fuzz_$t.log
    echo "fuzz_$t found a fault; its input is in build-fuzz/findings/." \
         "Copy it to tests/fuzz/regressions/$t/ and fix the fault." >&2
    exit 1
  fi
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" build-fuzz/fuzz_$t.log | tail -n 1
done
