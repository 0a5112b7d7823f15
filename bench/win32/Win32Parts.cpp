// The Windows-only part: the log through the Win32 dialog view.
#include "PlatformParts.h"
#include "Win32LogBench.h"

namespace norvale::bench {

std::vector<PlatformPart> platformParts() { return {{kPartLogWin32, benchLogWin32}}; }

void stationPeakMemory(ResultTable& table) {
    table.note("#6 memory: measured by the native build only");
}

// No part of the Windows build starts helpers.
std::optional<int> runPlatformChild(const BenchOptions&) { return std::nullopt; }

}  // namespace norvale::bench
