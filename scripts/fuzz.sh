#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 5) from the corpus
# kept in tests/fuzz/corpus. New inputs go to build/fuzz-work, not into the repository; copy the
# interesting ones into the corpus by hand. Longer runs: ./scripts/fuzz.sh 600
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-5}"

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DNORVALE_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz >/dev/null

for target in parse_hex_address read_reply string_reply dump_file_name sim_packets; do
  work="build/fuzz-work/$target"
  mkdir -p "$work"
  log="build/fuzz-work/$target.log"
  if ! "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build/fuzz-work/$target-" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz_$target found a fault:"
    tail -n 40 "$log"
    exit 1
  fi
  runs=$(grep -o 'number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
  echo "fuzz_$target: $runs executions in ${seconds}s, no fault"
done
