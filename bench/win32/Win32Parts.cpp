// The Windows-only parts: the log through the Win32 dialog view, the station window's redraw, the
// WinUSB binding's watch of the bus.
#include "PlatformParts.h"
#include "Win32LogBench.h"
#include "Win32StationWindowBench.h"
#include "WinUsbWatchBench.h"

namespace norvale::bench {

std::vector<PlatformPart> platformParts() {
    return {{kPartLogWin32, benchLogWin32},
            {kPartStationWindow, benchStationWindow},
            {kPartWatchWin32,
             [](const BenchOptions&, ResultTable& table) { benchWinUsbWatch(table); }}};
}

void stationPeakMemory(ResultTable& table) {
    table.note("#6 memory: measured by the native build only");
}

// No part of the Windows build starts helpers.
std::optional<int> runPlatformChild(const BenchOptions&) { return std::nullopt; }

}  // namespace norvale::bench
