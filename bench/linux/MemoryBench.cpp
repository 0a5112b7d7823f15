// VmHWM of one dump per child process (Linux: /proc/self/status).
#include "MemoryBench.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "BenchPhone.h"
#include "operations/FlashRangeReader.h"

namespace norvale::bench {
namespace {

constexpr char kChildReport[] = "peak-kb";

// The process's peak resident set so far, in kB.
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

struct ChildPeak {
    long beforeKb = 0;  // after the phone and the loader images were set up
    long afterKb = 0;
};

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ChildPeak measureInChild(const std::string& self, const char* start, const char* end) {
    const std::string command =
        quoted(self) + " --child-memory-dump " + start + " " + end + " 2>&1";
    std::FILE* child = popen(command.c_str(), "r");
    if (!child) throw std::runtime_error("can't start " + self);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, child)) output += buffer;
    const int status = pclose(child);
    std::istringstream in(output);
    std::string word;
    ChildPeak peak;
    if (status != 0 || !(in >> word >> peak.beforeKb >> peak.afterKb) || word != kChildReport) {
        throw std::runtime_error("the memory child failed: " + output);
    }
    return peak;
}

}  // namespace

int runMemoryChild(const std::string& startText, const std::string& endText) {
    try {
        BenchPhone phone;
        phone.fields(startText, endText);
        const long before = peakResidentKb();
        const BodyRun run = phone.run(readRangeToFile);
        const long after = peakResidentKb();
        if (!run.succeeded) {
            std::printf("the dump of %s to %s did not succeed\n", startText.c_str(),
                        endText.c_str());
            return 1;
        }
        std::printf("%s %ld %ld\n", kChildReport, before, after);
        return 0;
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
        return 1;
    }
}

void benchPeakMemory(const std::string& self, ResultTable& table) {
    const ChildPeak small = measureInChild(self, "10010000", "1001FFFF");
    const ChildPeak large = measureInChild(self, "100A0000", "1135FFFF");
    const long growthKb = large.afterKb - small.afterKb;
    table.add({"4", "Peak resident memory (VmHWM), 64 KB dump (PDS)",
               std::to_string(small.afterKb) + " kB", "", std::nullopt});
    table.add({"4", "Peak resident memory (VmHWM), CG1 dump (19.2 MB)",
               std::to_string(large.afterKb) + " kB", "", std::nullopt});
    table.add({"4", "CG1 peak - 64 KB peak", std::to_string(growthKb) + " kB", "<= 1024 kB",
               growthKb <= 1024});
    table.note("#4: each dump in a child process of its own; peak before the dump " +
               std::to_string(small.beforeKb) + " kB and " + std::to_string(large.beforeKb) +
               " kB (the simulated phone and the loader images set up)");
}

}  // namespace norvale::bench
