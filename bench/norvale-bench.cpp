// norvale-bench: what Norvale adds to the link and how its cost grows with the work, measured
// with the real portable layers against the simulated phone.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "DumpBench.h"
#include "LogAppendBench.h"
#include "PlatformParts.h"
#include "ResultTable.h"
#include "StationBench.h"
#include "StationStopBench.h"
#include "WriteBench.h"

namespace {

using namespace norvale::bench;

constexpr int kTargetMissed = 1;
constexpr int kUsage = 2;
constexpr int kPartFailed = 3;

std::vector<PlatformPart> allParts() {
    std::vector<PlatformPart> found{
        {kPartDump, benchDumpAgainstCopy}, {kPartLink, benchDumpOverLinkModel},
        {kPartWrites, benchWrites},        {kPartLog, benchLogInMemory},
        {kPartStation, benchStation},      {kPartStop, stationStopTime},
    };
    for (PlatformPart& part : platformParts()) found.push_back(std::move(part));
    // In the order the parts are numbered, whichever build provides them.
    const char* const order[] = {kPartDump,   kPartLink,          kPartWrites,  kPartMemory,
                                 kPartLog,    kPartLogWin32,      kPartStation, kPartStop,
                                 kPartSoak,   kPartStationWindow, kPartWatch,   kPartWatchWin32,
                                 kPartReport, kPartShift};
    std::vector<PlatformPart> parts;
    for (const char* name : order) {
        for (const PlatformPart& part : found) {
            if (part.name == name) parts.push_back(part);
        }
    }
    return parts;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "norvale-bench";
    std::vector<PlatformPart> parts = allParts();
    std::vector<std::string> names;
    for (const PlatformPart& part : parts) names.push_back(part.name);

    const ParsedOptions parsed =
        parseBenchOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), names);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), parsed.error.c_str(),
                     benchUsage(program, names).c_str());
        return kUsage;
    }
    const BenchOptions& options = parsed.options;
    if (options.help) {
        std::printf("%s", benchUsage(program, names).c_str());
        return 0;
    }
    if (const auto child = runPlatformChild(options)) return *child;

    ResultTable table;
    int failure = 0;
    for (const PlatformPart& part : parts) {
        if (!options.runs(part.name)) continue;
        std::fprintf(stderr, "norvale-bench: %s ...\n", part.name.c_str());
        try {
            part.run(options, table);
        } catch (const std::exception& error) {
            table.add({"-", "part '" + part.name + "' failed: " + error.what(), "", "", false});
            failure = kPartFailed;
        }
    }
    std::printf("%s", table.render().c_str());
    if (failure != 0) return failure;
    return table.anyMissed() ? kTargetMissed : 0;
}
