#!/usr/bin/env bash
# The project's benchmark command: builds the benchmark in Release natively and for 64-bit
# Windows, runs both (the Windows one under Wine) and prints their tables.
#
#   scripts/bench.sh                          every part
#   scripts/bench.sh --parts dump,link        only the named parts
#   scripts/bench.sh --parts link --repeat 7
#
# Parts: dump, link, writes, memory, log, station, stop, soak, report, watch, shift (native; watch under
# umockdev-wrapper), log-win32, station-window and watch-win32 (under Wine). Every other option
# goes to both programs; see `norvale-bench --help`. Build trees go to build/bench and
# build/bench-w64 (NORVALE_BUILD_PREFIX as for scripts/test.sh); the Wine prefix is the
# project's own, build/wineprefix, unless WINEPREFIX names another. Exits non-zero when a
# target was missed or a part failed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_prefix=${NORVALE_BUILD_PREFIX:-$root/build/}
jobs=$(nproc 2>/dev/null || echo 2)

native_parts=(dump link writes memory log station stop soak report watch shift)
wine_parts=(log-win32 station-window watch-win32)

# Split --parts between the two programs; pass everything else to both.
requested=""
passed=()
while [ $# -gt 0 ]; do
  case "$1" in
    --parts) requested=${2:?--parts needs a list}; shift 2 ;;
    --parts=*) requested=${1#--parts=}; shift ;;
    *) passed+=("$1"); shift ;;
  esac
done
pick() {  # the parts of "$@" that were requested (all when none were named)
  local chosen=() part
  for part in "$@"; do
    if [ -z "$requested" ] || [[ ",$requested," == *",$part,"* ]]; then chosen+=("$part"); fi
  done
  local IFS=,
  echo "${chosen[*]}"
}
native=$(pick "${native_parts[@]}")
wine_run=$(pick "${wine_parts[@]}")
if [ -n "$requested" ]; then
  IFS=, read -r -a asked <<<"$requested"
  for part in "${asked[@]}"; do
    if [[ " ${native_parts[*]} ${wine_parts[*]} " != *" $part "* ]]; then
      echo "Unknown part '$part'; parts: ${native_parts[*]} ${wine_parts[*]}" >&2
      exit 2
    fi
  done
fi

"$root/scripts/install-deps.sh"

build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs" --target norvale-bench
}

echo "==== building"
if [ -n "$native" ]; then build "${build_prefix}bench"; fi
if [ -n "$wine_run" ]; then
  build "${build_prefix}bench-w64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
fi

cpu=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo
echo "==== norvale-bench on $(nproc) x ${cpu:-unknown CPU}, $(date -u '+%Y-%m-%d %H:%M UTC')," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"

failed=0
if [ -n "$native" ]; then
  echo
  echo "==== native (Release, $(g++ -dumpfullversion 2>/dev/null || echo g++))"
  # The watch part talks to emulated USB phones: it runs under umockdev-wrapper, on its own.
  rest=$(echo ",$native," | sed 's/,watch,/,/; s/^,//; s/,$//')
  if [ -n "$rest" ]; then
    "${build_prefix}bench/bench/norvale-bench" --parts "$rest" "${passed[@]}" || failed=1
  fi
  if [[ ",$native," == *",watch,"* ]]; then
    umockdev-wrapper "${build_prefix}bench/bench/norvale-bench" --parts watch "${passed[@]}" ||
      failed=1
  fi
fi

if [ -n "$wine_run" ]; then
  export WINEPREFIX=${WINEPREFIX:-${build_prefix}wineprefix}
  export WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    echo "Creating the Wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w
  fi
  # The dialog needs a display; without one, a virtual one.
  runner=()
  # A 24-bit screen, as a station computer's is (xvfb-run's own default is 8-bit).
  if [ -z "${DISPLAY:-}" ]; then runner=(xvfb-run -a -s "-screen 0 1280x1600x24"); fi
  echo
  echo "==== 64-bit Windows build under $(wine --version 2>/dev/null)${runner:+, on Xvfb}"
  # One dialog run unless --repeat says otherwise: under Wine every line is painted, which makes
  # a run of 10 000 lines take minutes. Xvfb's goodbye on stderr is dropped.
  "${runner[@]}" wine "${build_prefix}bench-w64/bench/norvale-bench.exe" --parts "$wine_run" \
    --repeat 1 "${passed[@]}" 2>&1 |
    { grep --line-buffered -v '^X connection to .* broken' || true; } | tr -d '\r' || failed=1
fi
exit "$failed"
