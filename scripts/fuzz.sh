#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 5) from the corpus
# kept in tests/fuzz/corpus. New inputs go to build/fuzz-work, not into the repository; copy the
# interesting ones into the corpus by hand. Longer runs: ./scripts/fuzz.sh 600
# NORVALE_BUILD_PREFIX puts the build trees elsewhere, as for scripts/test.sh.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-5}"
prefix="${NORVALE_BUILD_PREFIX:-build/}"
build="${prefix}fuzz"
results="${prefix}fuzz-work"

# Quiet unless something goes wrong: then the compiler's words are what the reader needs.
if ! output=$(CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DNORVALE_FUZZ=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
      "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" 2>&1 && cmake --build "$build" 2>&1); then
  echo "$output" | tail -n 60
  exit 1
fi

# Every target runs, so one fault doesn't hide another; the script fails if any found one.
faults=0
for target in parse_hex_address read_reply string_reply phone_link dump_file_name sim_packets \
    command_line checksums recipe; do
  work="$results/$target"
  mkdir -p "$work"
  log="$results/$target.log"
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$results/$target-" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz_$target found a fault:"
    tail -n 40 "$log"
    faults=$((faults + 1))
    continue
  fi
  runs=$(grep -o 'number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
  echo "fuzz_$target: $runs executions in ${seconds}s, no fault"
done
if [ "$faults" -ne 0 ]; then
  echo "$faults fuzz target(s) found a fault"
  exit 1
fi
