#!/usr/bin/env bash
# Makes the README's picture of the station window at work again: norvale-station-sim.exe under
# Wine with three simulated phones behind a slow hub, the second unplugged in its backup and the
# other two still writing when the screen is taken, cropped to the window.
#
#   scripts/station-screenshot.sh [FILE]          default: docs/station-screenshot.png
#   scripts/station-screenshot.sh --russian [FILE] the window in Russian (a ru_RU.UTF-8 locale,
#                                                 made with localedef when missing); default:
#                                                 docs/station-screenshot-ru.png
#
# NORVALE_RUN_SECONDS (default 10) is when the screen is taken after the start.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "${1:-}" = "--russian" ]; then
  shift
  shot=${1:-$root/docs/station-screenshot-ru.png}
  # Wine takes its language from the locale, which must exist on this system.
  if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
  fi
  export NORVALE_RUN_LANG=ru_RU.UTF-8
else
  shot=${1:-$root/docs/station-screenshot.png}
fi

# run.sh puts its chain (a backup, 4 MB of blocks written and verified, a start) into the profile
# of its Wine prefix when none is there: the picture always shows that chain, whatever an
# earlier run of the window was set to.
rm -f "$root/build/wineprefix-run/drive_c/users/$(whoami)/AppData/Roaming/Norvale/station.ini"

# Each transfer 15 ms longer: the backup takes a few seconds, the 4 MB write far longer, and
# phone 2 is gone at its 120th transfer, in its backup.
export NORVALE_SIM_PHONES=3 NORVALE_SIM_FAULTS=2:unplug@120 NORVALE_SIM_PACE=15
export NORVALE_SIM_ARRIVE= NORVALE_SIM_RETURN= NORVALE_SIM_ROAD= NORVALE_SIM_TRACE=
export NORVALE_RUN_SECONDS=${NORVALE_RUN_SECONDS:-10}
exec "$root/scripts/run.sh" --station --screenshot "$shot"
