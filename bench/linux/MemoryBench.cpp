// VmHWM of one dump per child process (Linux: /proc/self/status).
#include "MemoryBench.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "BenchFolder.h"
#include "BenchPhone.h"
#include "ChildRun.h"
#include "ProcessFigures.h"
#include "StationBench.h"
#include "StationRig.h"
#include "operations/FlashRangeReader.h"
#include "platform/posix/AllocatorArenas.h"

namespace norvale::bench {
namespace {

constexpr char kChildReport[] = "peak-kb";

// The process's peak resident set so far, in kB.
long peakResidentKb() { return processStatusField("VmHWM"); }

struct ChildPeak {
    long beforeKb = 0;  // after the phone and the loader images were set up
    long afterKb = 0;
};

// Runs this program with `arguments` (a child option of BenchOptions) and reads its report.
// `environment`: assignments put before the command, as the shell takes them.
ChildPeak measureInChild(const std::string& self, const std::string& arguments,
                         const std::string& environment = {}) {
    const ChildRun run = runChild(self, arguments, environment);
    const std::string& output = run.output;
    const int status = run.status;
    std::istringstream in(output);
    std::string word;
    ChildPeak peak;
    if (status != 0 || !(in >> word >> peak.beforeKb >> peak.afterKb) || word != kChildReport) {
        throw std::runtime_error("the memory child failed: " + output);
    }
    return peak;
}

// What a child measured: its peaks around the work, and what went wrong (empty if nothing).
struct ChildOutcome {
    long beforeKb = 0;
    long afterKb = 0;
    std::string failure;
};

// Runs a child's work and prints its report (or what went wrong); the child's exit code.
int childReport(const std::function<ChildOutcome()>& work) {
    try {
        const ChildOutcome outcome = work();
        if (!outcome.failure.empty()) {
            std::printf("%s\n", outcome.failure.c_str());
            return 1;
        }
        std::printf("%s %ld %ld\n", kChildReport, outcome.beforeKb, outcome.afterKb);
        return 0;
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
        return 1;
    }
}

}  // namespace

int runMemoryChild(const std::string& startText, const std::string& endText) {
    return childReport([&] {
        BenchPhone phone;
        phone.fields(startText, endText);
        const long before = peakResidentKb();
        const BodyRun run = phone.run(readRangeToFile);
        const long after = peakResidentKb();
        return ChildOutcome{
            before, after,
            run.succeeded ? std::string()
                          : "the dump of " + startText + " to " + endText + " did not succeed"};
    });
}

void benchPeakMemory(const std::string& self, ResultTable& table) {
    const ChildPeak small = measureInChild(self, "--child-memory-dump 10010000 1001FFFF");
    const ChildPeak large = measureInChild(self, "--child-memory-dump 100A0000 1135FFFF");
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

int runStationMemoryChild(unsigned phones, bool atOnce) {
    return childReport([&] {
        const BenchFolder folder;
        StationRig rig(phones);
        const long before = peakResidentKb();
        rig.run(atOnce);
        const long after = peakResidentKb();
        return ChildOutcome{before, after, rig.check()};
    });
}

namespace {

std::string glibcDefaultArenas() {
    // glibc's own limit when nothing sets one: eight arenas a core on a 64-bit system.
    return "MALLOC_ARENA_MAX=" +
           std::to_string(8 * std::max(1u, std::thread::hardware_concurrency())) + " ";
}

}  // namespace

void benchStationPeakMemory(const std::string& self, ResultTable& table) {
    const std::string phones = std::to_string(kStationMemoryPhones);
    const std::string child = "--child-station-memory " + phones;
    const ChildPeak atOnce = measureInChild(self, child + " at-once");
    const ChildPeak glibcDefault = measureInChild(self, child + " at-once", glibcDefaultArenas());
    const ChildPeak oneArena = measureInChild(self, child + " at-once", "MALLOC_ARENA_MAX=1 ");
    const ChildPeak oneByOne = measureInChild(self, child + " one-by-one");
    constexpr long kImageKb = 64;
    constexpr long kPerPhoneKb = 256;
    const long limitKb = kImageKb + kPerPhoneKb * static_cast<long>(kStationMemoryPhones);
    const long addedKb = atOnce.afterKb - atOnce.beforeKb;
    table.add({"6",
               "Peak resident memory (VmHWM), " + phones +
                   " phones at once: before any session / at the end",
               std::to_string(atOnce.beforeKb) + " / " + std::to_string(atOnce.afterKb) + " kB", "",
               std::nullopt});
    table.add({"6",
               "  added by serving them, the allocator as norvale-cli sets it (" +
                   std::to_string(kAllocatorArenas) + " arenas)",
               std::to_string(addedKb) + " kB",
               "<= 64 + " + phones + " x 256 = " + std::to_string(limitKb) + " kB",
               addedKb <= limitKb});
    table.add({"6",
               "  the same with glibc's default of 8 arenas a core (" +
                   glibcDefaultArenas().substr(0, glibcDefaultArenas().size() - 1) + ")",
               std::to_string(glibcDefault.afterKb - glibcDefault.beforeKb) + " kB", "",
               std::nullopt});
    table.add({"6", "  the same with one arena (MALLOC_ARENA_MAX=1)",
               std::to_string(oneArena.afterKb - oneArena.beforeKb) + " kB", "", std::nullopt});
    table.add({"6", "  the same " + phones + " phones one after another: added",
               std::to_string(oneByOne.afterKb - oneByOne.beforeKb) + " kB", "", std::nullopt});
    table.note("#6 memory: each figure in a child process of its own; \"before\" is the process "
               "with the " +
               phones + " simulated phones attached and the 64 KB image read, no session yet");
}

}  // namespace norvale::bench
