// The Linux-only part: peak resident memory, measured in child processes of this program.
#include <unistd.h>

#include <climits>
#include <stdexcept>

#include "MemoryBench.h"
#include "PlatformParts.h"
#include "ReportBench.h"
#include "ShiftBench.h"
#include "SoakBench.h"
#include "UsbWatchBench.h"
#include "platform/posix/AllocatorArenas.h"

namespace norvale::bench {
namespace {

std::string thisProgram() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) throw std::runtime_error("can't find /proc/self/exe");
    return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

std::vector<PlatformPart> platformParts() {
    return {{kPartMemory, [](const BenchOptions&,
                             ResultTable& table) { benchPeakMemory(thisProgram(), table); }},
            {kPartSoak,
             [](const BenchOptions&, ResultTable& table) { benchSoak(thisProgram(), table); }},
            {kPartWatch, [](const BenchOptions&, ResultTable& table) { benchUsbWatch(table); }},
            {kPartReport,
             [](const BenchOptions&, ResultTable& table) { benchReport(thisProgram(), table); }},

            {kPartShift,
             [](const BenchOptions&, ResultTable& table) { benchShift(thisProgram(), table); }}};
}

void stationPeakMemory(ResultTable& table) { benchStationPeakMemory(thisProgram(), table); }

std::optional<int> runPlatformChild(const BenchOptions& options) {
    // Every process of the benchmark, its children too, sets its allocator as norvale-cli does,
    // before any thread: the station's figures are then the program's.
    limitAllocatorArenas();
    if (options.childSoak) return runSoakChild(*options.childSoak);
    if (options.childShift) return runShiftChild(*options.childShift);
    if (options.childReport) return runReportChild(*options.childReport);
    if (options.childStationPhones) {
        return runStationMemoryChild(*options.childStationPhones, options.childStationAtOnce);
    }
    if (!options.childDumpStart || !options.childDumpEnd) return std::nullopt;
    return runMemoryChild(*options.childDumpStart, *options.childDumpEnd);
}

}  // namespace norvale::bench
