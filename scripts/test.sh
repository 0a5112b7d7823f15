#!/usr/bin/env bash
# The project's test command: installs what is missing, then builds and runs every suite.
#
#   scripts/test.sh            all steps
#   scripts/test.sh native w64 only the named steps
#
# Each step runs on its own; a failing step doesn't stop the others, but the script exits
# non-zero and the summary at the end names it. The last line totals every suite that ran:
# "N passed, M failed". Build trees go to build/<step>; set NORVALE_BUILD_PREFIX to put them
# elsewhere (e.g. /tmp/nv- gives /tmp/nv-native).
# To add a suite (ThreadSanitizer, fuzzers, a format check), write a step_<name> function and
# list it in all_steps; a step that runs tests counts them with count_gtest or count_runs.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_prefix=${NORVALE_BUILD_PREFIX:-$root/build/}
jobs=$(nproc 2>/dev/null || echo 2)

all_steps=(native usb tsan fuzz w64 w32 package format)

# The GoogleTest totals of the last ctest run in a build tree, so a passing run still shows what
# it ran.
gtest_summary() {
  local log=$1/Testing/Temporary/LastTest.log
  [ -f "$log" ] || return 0
  # From each program's closing "[==========] ... ran." line: its totals and the failures list.
  awk '/^\[==========\] Running /{p=0} /^\[==========\] .* ran\./{p=1} p' "$log" |
    grep -E '^\[==========\]|^\[  (PASSED|FAILED|SKIPPED)  ?\]|FAILED TESTS?$' || true
}

# What each step ran goes to the file $step_counts (set by main for the step) as lines
# "<passed> <failed>"; main totals them. A step that fails without counting a failure (a build
# error, a check that found something) counts as one failed, so a red run never totals 0 failed.
count_runs() {
  echo "$1 $2" >>"$step_counts"
}

# Counts the cases in GoogleTest output (one program's or several, as in a ctest log): those that
# passed, and those that failed or never finished (the program died in them). A missing file
# counts nothing.
count_gtest() {
  [ -f "$1" ] || return 0
  local passed failed
  read -r passed failed < <(tr -d '\r' <"$1" | awk '
    /^\[==========\] Running / { inside = 1 }
    /^\[==========\] .* ran\./ { inside = 0 }
    !inside { next }
    /^\[ RUN      \] / { started++ }
    /^\[       OK \] / { passed++ }
    /^\[  FAILED  \] / { failed++ }
    /^\[  SKIPPED \] / { skipped++ }
    END {
      unfinished = started - passed - failed - skipped
      print passed + 0, failed + (unfinished > 0 ? unfinished : 0)
    }')
  count_runs "$passed" "$failed"
}

# What each failed case of a GoogleTest log printed, from its start to its verdict (at most 40
# lines a case), so a failure that happens once in a while can be read from CI's output alone.
failure_details() {
  [ -f "$1" ] || return 0
  tr -d '\r' <"$1" | awk '
    /^\[ RUN      \] / { block = ""; lines = 0 }
    { if (lines < 40) { block = block $0 "\n"; lines++ } }
    /^\[  FAILED  \] .* \([0-9]+ ms\)$/ { printf "%s", block }'
}

# The test builds optimise lightly and keep only line tables: a sanitizer's report still names
# file and line, and a fresh clone's builds take about half the time -O2 -g takes.
test_build=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

configure_and_build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" --parallel "$jobs"
}

# Portable layers against the simulator, with AddressSanitizer and UBSan.
step_native() {
  local dir=${build_prefix}native
  configure_and_build "$dir" "${test_build[@]}" -DNORVALE_SANITIZE=ON
  local rc=0
  (cd "$dir" && ctest --output-on-failure --timeout 900) || rc=$?
  gtest_summary "$dir"
  count_gtest "$dir/Testing/Temporary/LastTest.log"
  grep -h '^\[ matrix   \] [0-9]' "$dir/Testing/Temporary/LastTest.log" 2>/dev/null || true
  return "$rc"
}

# The Linux USB binding through real libusb against a phone emulated with umockdev, in the native
# step's build tree (the same sanitizers). umockdev-wrapper preloads the emulation, which
# AddressSanitizer must be told to accept: it wants to be the first library loaded.
step_usb() {
  local dir=${build_prefix}native
  cmake -S "$root" -B "$dir" -G Ninja "${test_build[@]}" -DNORVALE_SANITIZE=ON
  cmake --build "$dir" --parallel "$jobs" --target norvale_usb_tests
  local log=$dir/usb-tests.log rc=0
  ASAN_OPTIONS="verify_asan_link_order=0 ${ASAN_OPTIONS:-}" \
    umockdev-wrapper "$dir/tests/norvale_usb_tests" >"$log" 2>&1 || rc=$?
  grep -E '^\[==========\] .* ran\.|^\[  (PASSED|FAILED)  \]' "$log" || true
  count_gtest "$log"
  if [ "$rc" -ne 0 ]; then
    failure_details "$log"
    echo "norvale_usb_tests exited with $rc; the whole output is in $log"
    return "$rc"
  fi
  if ! grep -qE '^\[  PASSED  \] [1-9]' "$log"; then
    echo "norvale_usb_tests ran no test"
    return 1
  fi
}

# The tests that run the UI thread, the monitor and command workers together, under
# ThreadSanitizer: the dialog's controller, the monitor's stories, arrival and removal under
# faults, the seven buttons, the fault matrix (a click and a worker thread per scenario), the
# range reads, whose dumps are written on a thread of their own, and several phones at once: two
# sessions on two threads, the watcher's removal threads, the simulator's phones, and a station's
# phones each on a session thread of its own while its engine's model is read from others.
tsan_tests='MainDialog*:MonitorStory*:PresenceFaults*:*UnplugWhileIdentifying*:OperationsStory*'
tsan_tests+=':Commands/FaultMatrix*:FlashRangeReader*:DumpWriterTest*:UsbRoad*'
tsan_tests+=':ConcurrentSessions*:PhoneWatcher*:SimPhones*:StationModel*:StationStory*'
step_tsan() {
  local dir=${build_prefix}tsan
  cmake -S "$root" -B "$dir" -G Ninja "${test_build[@]}" -DNORVALE_TSAN=ON \
    -DNORVALE_BENCH=OFF
  cmake --build "$dir" --parallel "$jobs" --target norvale_tests
  local log=$dir/tsan-tests.log rc=0
  # A race is reported where it happens and fails the run once every test has run.
  TSAN_OPTIONS="exitcode=66 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp ${TSAN_OPTIONS:-}" \
    "$dir/tests/norvale_tests" --gtest_filter="$tsan_tests" >"$log" 2>&1 || rc=$?
  count_gtest "$log"
  grep -E '^(WARNING: ThreadSanitizer|SUMMARY: ThreadSanitizer)' "$log" || true
  grep -E '^\[==========\] .* ran\.|^\[  (PASSED|FAILED)  \]|^\[ matrix   \] [0-9]' "$log" || true
  if [ "$rc" -ne 0 ]; then
    failure_details "$log"
    echo "norvale_tests under ThreadSanitizer exited with $rc; the whole output is in $log"
    return "$rc"
  fi
  # A filter that matches nothing would pass without testing anything.
  if ! grep -qE '^\[  PASSED  \] [1-9]' "$log"; then
    echo "no test matched '$tsan_tests'"
    return 1
  fi
}

# Each libFuzzer target for a few seconds (NORVALE_FUZZ_SECONDS, default 5) from the corpus in
# tests/fuzz/corpus; scripts/fuzz.sh SECONDS runs them for longer. Each target counts as one
# run: passed if it ran clean, failed if it found a fault.
step_fuzz() {
  local log=${build_prefix}fuzz-step.log rc=0
  mkdir -p "$(dirname "$log")"
  NORVALE_BUILD_PREFIX=$build_prefix "$root/scripts/fuzz.sh" "${NORVALE_FUZZ_SECONDS:-5}" |
    tee "$log" || rc=$?
  count_runs "$(grep -c '^fuzz_[a-z_]*: .*, no fault$' "$log")" \
    "$(grep -c '^fuzz_[a-z_]* found a fault:$' "$log")"
  return "$rc"
}

# The Windows bindings, the dialog and the portable suite as a 64-bit Windows program, run by
# CTest under Wine in a prefix of the project's own.
step_w64() {
  local dir=${build_prefix}w64
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    "${test_build[@]}"
  # The runtime is linked in: the programs import nothing but the system's DLLs.
  "$root/scripts/check-imports.sh" pei-x86-64 "$dir/norvale.exe" "$dir/norvale-sim.exe" \
    "$dir/norvale-cli.exe" "$dir/norvale-station.exe" "$dir/norvale-station-sim.exe"
  "$root/scripts/check-imports.sh" --self-test

  export WINEPREFIX=${build_prefix}wineprefix
  export WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    echo "Creating the Wine prefix $WINEPREFIX"
    # No Mono or Gecko: nothing here needs them, and their installers would ask on screen.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
    wineserver -w
  fi

  # The dialog tests need a display; without one, a virtual one.
  local runner=()
  if [ -z "${DISPLAY:-}" ]; then runner=(xvfb-run -a); fi
  local rc=0
  (cd "$dir" && "${runner[@]}" ctest --output-on-failure --timeout 900) || rc=$?
  gtest_summary "$dir"
  count_gtest "$dir/Testing/Temporary/LastTest.log"
  return "$rc"
}

# The 32-bit Windows programs and tests: compiled and linked completely (nothing here can run a
# 32-bit program), which proves at compile time what differs between the architectures (the
# SetupAPI record sizes) and what must not (the driver records and reply buffers); then each
# program is checked to be a 32-bit one that imports only the system's DLLs. Nothing runs, so
# nothing is optimised.
step_w32() {
  local dir=${build_prefix}w32
  configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O0 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O0 -DNDEBUG"
  "$root/scripts/check-imports.sh" pei-i386 "$dir/norvale.exe" "$dir/norvale-sim.exe" \
    "$dir/norvale-cli.exe" "$dir/norvale-station.exe" "$dir/norvale-station-sim.exe" \
    "$dir/tests/norvale_win32_tests.exe"
}

# The Linux release as a user gets it: package.sh --linux builds the .deb and the tarball (one
# native Release build of norvale-cli) and checks their file lists; then the package's control
# fields, lintian, the program extracted and run against the simulated phone, the manual page
# rendered, and the completion asked what Tab offers. Each check counts as one run.
step_package() {
  local out=${build_prefix}package
  local log=$out/package-step.log passed=0 failed=0
  mkdir -p "$out"
  if ! NORVALE_PACKAGE_DIR=$out "$root/scripts/package.sh" --linux >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "package.sh --linux failed; the whole output is in $log"
    return 1
  fi
  passed=1
  local version arch deb extracted program page completion
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/linux/CMakeCache.txt")
  arch=$(dpkg --print-architecture)
  deb=$out/norvale-cli_${version}_$arch.deb
  extracted=$out/extracted
  rm -rf "$extracted"
  dpkg-deb -x "$deb" "$extracted"
  program=$extracted/usr/bin/norvale-cli
  page=$extracted/usr/share/man/man1/norvale-cli.1.gz
  completion=$extracted/usr/share/bash-completion/completions/norvale-cli

  # Runs a check: its name, then a command whose output is shown when it fails.
  check() {
    local name=$1 output
    shift
    if output=$("$@" 2>&1); then
      echo "ok    $name"
      passed=$((passed + 1))
    else
      echo "FAIL  $name"
      sed 's/^/      /' <<<"$output"
      failed=$((failed + 1))
    fi
  }
  # Fails, showing both, unless the two texts are the same.
  same() {
    [ "$1" == "$2" ] && return 0
    printf 'expected: %q\nactual:   %q\n' "$1" "$2"
    return 1
  }

  control_fields() {
    local field
    same norvale-cli "$(dpkg-deb -f "$deb" Package)" &&
      same "$version" "$(dpkg-deb -f "$deb" Version)" &&
      same "$arch" "$(dpkg-deb -f "$deb" Architecture)" || return 1
    # Depends as dpkg-shlibdeps found it in the program's shared libraries.
    for field in 'libusb-1.0-0 (>= ' 'libstdc++6 (>= '; do
      if [[ $(dpkg-deb -f "$deb" Depends) != *"$field"* ]]; then
        echo "Depends lacks $field: $(dpkg-deb -f "$deb" Depends)"
        return 1
      fi
    done
    [[ $(dpkg-deb -f "$deb" Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
      { echo "Maintainer: $(dpkg-deb -f "$deb" Maintainer)"; return 1; }
    # A one-line synopsis and an extended description below it.
    [ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 2 ] ||
      { echo "Description: $(dpkg-deb -f "$deb" Description)"; return 1; }
  }
  check "control fields" control_fields
  # lintian's errors fail; its warnings and notes are shown.
  lintian_clean() {
    lintian --fail-on error --info "$deb" 2>&1 | grep -v '^running with root privileges'
    return "${PIPESTATUS[0]}"
  }
  check "lintian: no error" lintian_clean

  check "norvale-cli --version" same "norvale-cli $version" "$("$program" --version)"
  local folder=$out/sim-folder
  rm -rf "$folder"
  "$root/scripts/make-sample-loaders.sh" "$folder"
  local device='\\?\usb#vid_22b8&pid_4903#5&1b2c3d4e&0&1#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}'
  check "norvale-cli --sim list" same "$(printf 'driver:1\tdriver\t%s\t0C60\tFLASH \t' "$device")" \
    "$(cd "$folder" && env -u NORVALE_SIM_ROAD -u NORVALE_SIM_FAULTS -u NORVALE_SIM_TRACE \
      "$program" --sim list)"
  check "norvale-cli --sim info" same "$(printf '%s\n' 'Phone connected' 'Boot version: 0C60' \
    'Mode: FLASH ' 'CG1 start - 100A0000')" \
    "$(cd "$folder" && env -u NORVALE_SIM_ROAD -u NORVALE_SIM_FAULTS -u NORVALE_SIM_TRACE \
      LANG=C LC_ALL= LC_MESSAGES= "$program" --sim info)"

  # man's warnings go to the error stream; the page must give none.
  check "man -l: no warning" same "" "$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
  check "man -l: the name line" grep -qx '       norvale-cli - service commands for LTE2 phones in flash mode' \
    <(LC_ALL=C MANWIDTH=80 man -l "$page" 2>/dev/null)

  # What Tab offers: the commands of --help for the first word, the regions after write.
  local commands
  commands=$("$program" --help | awk '/^Commands:/ { on = 1; next } /^$/ { on = 0 }
    on && /^  [a-z]/ { printf "%s%s", sep, $1; sep = " " }')
  ask() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _norvale_cli
      echo "${COMPREPLY[*]}"' completion "$completion" "$@"
  }
  check "completion: the commands" same "$commands" "$(ask norvale-cli "")"
  check "completion: regions after write" same "boot pds panic" "$(ask norvale-cli write "")"
  # Where bash-completion looks for it by the command's name.
  check "completion: found by bash-completion" same "complete -F _norvale_cli norvale-cli" \
    "$(XDG_DATA_DIRS=$extracted/usr/share bash -c 'source /usr/share/bash-completion/bash_completion
      __load_completion norvale-cli; complete -p norvale-cli')"

  count_runs "$passed" "$failed"
  [ "$failed" -eq 0 ]
}

# The tracked C++ sources against .clang-format: any difference fails, with the places shown.
step_format() {
  cd "$root"
  git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run --Werror
}

# The whole run is one function, read completely before it starts: editing this file while it
# runs (a checkout, a pull) can't change what the run does half-way.
main() {
  local steps=("$@") step started rc took summary=() failed=0 counts passed=0 broken=0 p f ran
  if [ "${#steps[@]}" -eq 0 ]; then steps=("${all_steps[@]}"); fi
  for step in "${steps[@]}"; do
    if ! declare -F "step_$step" >/dev/null; then
      echo "Unknown step '$step'; steps: ${all_steps[*]}" >&2
      return 2
    fi
  done

  "$root/scripts/install-deps.sh"

  counts=$(mktemp -d)
  for step in "${steps[@]}"; do
    echo
    echo "==== $step"
    started=$SECONDS
    step_counts=$counts/${#summary[@]}
    : >"$step_counts"
    # A subshell outside any condition, so `set -e` holds inside the step.
    set +e
    (set -euo pipefail; "step_$step")
    rc=$?
    set -e
    took=$((SECONDS - started))
    read -r p f < <(awk '{ p += $1; f += $2 } END { print p + 0, f + 0 }' "$step_counts")
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    passed=$((passed + p))
    broken=$((broken + f))
    ran=""
    if [ $((p + f)) -ne 0 ]; then ran="; $p passed, $f failed"; fi
    if [ "$rc" -eq 0 ]; then
      summary+=("PASS  $step (${took} s$ran)")
    else
      summary+=("FAIL  $step (${took} s, exit $rc$ran)")
      failed=1
    fi
  done
  rm -rf "$counts"

  echo
  echo "==== summary"
  printf '%s\n' "${summary[@]}"
  echo "$passed passed, $broken failed"
  return "$failed"
}

main "$@"; exit
