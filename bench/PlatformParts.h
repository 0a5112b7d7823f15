// The parts of the benchmark that only one platform's build can run.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "ResultTable.h"

namespace norvale::bench {

struct PlatformPart {
    std::string name;  // as --parts takes it
    std::function<void(const BenchOptions&, ResultTable&)> run;
};

// Natively: the peak-memory part, which reads /proc. On Windows: the log through the Win32
// dialog view.
std::vector<PlatformPart> platformParts();

// The station part's peak memory: natively, in child processes (see benchStationPeakMemory); the
// Windows build adds a note that it is measured natively only.
void stationPeakMemory(ResultTable& table);

// Called first in every run, before any thread: sets the process up as the platform's programs
// are (natively: the allocator's arenas, as norvale-cli). Then, when the process was started as a
// helper of a platform part (see BenchOptions), does that helper's work and returns the exit
// code; nullopt for an ordinary run.
std::optional<int> runPlatformChild(const BenchOptions& options);

}  // namespace norvale::bench
