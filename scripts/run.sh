#!/usr/bin/env bash
# Builds norvale-sim.exe and opens it under Wine, in a working folder that holds the project's
# own made-up loader images, with a simulated phone attached.
#
#   scripts/run.sh                    open the program; without a display, take a screenshot
#   scripts/run.sh --screenshot FILE  run it headless for a few seconds and save the screen to FILE
#   scripts/run.sh --station [--screenshot FILE]
#                                     the same with the station window, norvale-station-sim.exe
#
# The station runs over the phones the simulator's variables describe (NORVALE_SIM_PHONES,
# NORVALE_SIM_ARRIVE, NORVALE_SIM_FAULTS...); without NORVALE_SIM_PHONES it gets three, the second
# of them unplugged part of the way through. A headless station run starts with --start (Start
# pressed with the settings kept) so that the screenshot shows phones at work.
#
# Without a display (or with --screenshot) the program runs inside Xvfb for NORVALE_RUN_SECONDS
# seconds (default 8), the screen is saved as a PNG, and the program is closed. Wine runs with
# LANG=C: the dialog's Russian texts must not depend on the system's code page.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
shot=""
program=norvale-sim
if [ "${1:-}" = "--station" ]; then
  program=norvale-station-sim
  shift
fi
case "${1:-}" in
  "") ;;
  --screenshot)
    shot=${2:?--screenshot needs a file name}
    [[ $shot = /* ]] || shot=$PWD/$shot
    ;;
  *)
    echo "usage: scripts/run.sh [--station] [--screenshot FILE]" >&2
    exit 2
    ;;
esac
seconds=${NORVALE_RUN_SECONDS:-8}

"$root/scripts/install-deps.sh"

# NORVALE_RUN_BUILD: a Windows build folder already configured, used as it is.
build=${NORVALE_RUN_BUILD:-$root/build/run-w64}
if [ -z "${NORVALE_RUN_BUILD:-}" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF -DNORVALE_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "$program"

# The working folder: the program, .\bin\ with the loader images, .\KESTRIN.ini.
work=$root/build/run
mkdir -p "$work"
"$root/scripts/make-sample-loaders.sh" "$work"
cp "$build/$program.exe" "$work/"

# A Wine prefix of the run's own, so closing the program can't touch anything else under Wine.
export WINEPREFIX=$root/build/wineprefix-run
export WINEDEBUG=-all
# NORVALE_RUN_LANG (ru_RU.UTF-8, say) shows the station window in that language.
export LANG=${NORVALE_RUN_LANG:-C} LC_ALL=${NORVALE_RUN_LANG:-C}

headless=0
if [ -n "$shot" ] || [ -z "${DISPLAY:-}" ]; then headless=1; fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (once)"
  mkdir -p "$WINEPREFIX"
  if [ "$headless" = 1 ]; then
    xvfb-run -a sh -c 'wineboot --init >/dev/null 2>&1; wineserver -w'
  else
    wineboot --init >/dev/null 2>&1
    wineserver -w
  fi
fi
# Wine's own fonts (fonts-wine) go into the prefix's font folder, where every Wine looks: Debian's
# Wine 8 looks for them under a path it cannot resolve and so misses Marlett, which draws the
# caption buttons (shown as the letters "0 1 r" without it).
cp -u /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"

if [ "$program" = norvale-station-sim ]; then
  # Three phones, the second unplugged part of the way through, unless the caller chose.
  if [ -z "${NORVALE_SIM_PHONES:-}" ]; then
    export NORVALE_SIM_PHONES=3 NORVALE_SIM_FAULTS=${NORVALE_SIM_FAULTS:-2:unplug@400}
  fi
  # The station's settings in the run's own prefix: without any, a chain that
  # keeps the phones busy for a while (a backup, 4 MB of blocks written and verified, a start).
  # Wine gives its programs the prefix's own APPDATA, whatever the environment says.
  settings=$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Norvale/station.ini
  if [ ! -f "$settings" ]; then
    mkdir -p "$(dirname "$settings")"
    head -c 4194304 /dev/zero | tr '\0' '\125' >"$work/blocks.bin"
    printf '%s\r\n' "step=backup" "step=write-blocks 10100000 104FFFFF blocks.bin" \
      "step=start" "verify=1" "changed-only=0" "folder=" "journal=journal.jsonl" "places=all" \
      >"$settings"
  fi
fi

if [ "$headless" = 0 ]; then
  cd "$work"
  exec wine "$program.exe"
fi

[ -n "$shot" ] || shot=$work/$program.png
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
# Wine's own desktop window draws the dialog's caption and frame, which bare Xvfb would not.
width=800
height=400
if [ "$program" = norvale-station-sim ]; then
  width=1200
  height=720
fi
export NORVALE_RUN_WORK=$work NORVALE_RUN_SHOT=$shot NORVALE_RUN_SECONDS=$seconds
export NORVALE_RUN_PROGRAM=$program.exe NORVALE_RUN_ARGS=""
if [ "$program" = norvale-station-sim ]; then NORVALE_RUN_ARGS=--start; fi
xvfb-run -a -s "-screen 0 ${width}x${height}x24" bash -c '
  cd "$NORVALE_RUN_WORK"
  wine explorer /desktop=Norvale,'"${width}x${height}"' "$NORVALE_RUN_PROGRAM" $NORVALE_RUN_ARGS &
  sleep "$NORVALE_RUN_SECONDS"
  import -window root "$NORVALE_RUN_SHOT"
  wineserver -k
  wait
' >/dev/null 2>&1 || true
if [ ! -s "$shot" ]; then
  echo "No screenshot was made" >&2
  exit 1
fi
# Only the dialog: the plain desktop around it is cut away.
convert "$shot" -trim +repage "$shot"
echo "Ran $program.exe for $seconds s without a display; screenshot: $shot"
