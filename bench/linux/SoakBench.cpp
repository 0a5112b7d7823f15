// A hundred phone runs with phones arriving and leaving, sampled every ten.
#include "SoakBench.h"

#include <malloc.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchFolder.h"
#include "BenchPhone.h"
#include "ChildRun.h"
#include "ProcessFigures.h"
#include "operations/FlashRangeReader.h"
#include "operations/PhoneControl.h"
#include "presence/AttachedPhones.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "sim/SimPlatform.h"

namespace norvale::bench {
namespace {

constexpr unsigned kPhones = 5;
constexpr unsigned kRounds = 20;
constexpr unsigned kRunsPerSample = 10;
constexpr std::uint32_t kReturnMs = 2000;
constexpr std::uint32_t kPdsStart = 0x10010000;
constexpr std::uint32_t kPdsEnd = 0x1001FFFF;
// How far the resident set may move from the sample after 20 runs to the last: the allocator
// and the page cache's bookkeeping move it by some pages; a leak of a session's buffers (128 KB
// of dump ring each) over 80 runs would move it by megabytes.
constexpr long kFlatKb = 256;

// One arrival's session, as a station gives each phone that arrives.
struct ArrivalSession {
    explicit ArrivalSession(Platform& platform) : platform(platform) {}

    // The arrival, PDS into `file`, then the start; false when a command failed.
    bool serve(const AttachedPhone& phone, const std::string& file) {
        handleArrivalOf(services, openAttachedPhone(platform, phone));
        state.busy = true;
        const bool read = !runCommandWorker(services, [&](CommandContext& command) {
                               readRangeToNamedFile(command, kPdsStart, kPdsEnd, file);
                           }).failed;
        state.busy = true;
        return !runCommandWorker(services, startPhone).failed && read;
    }

    Platform& platform;
    MemoryDialogView view;
    BenchLog log{view};
    SessionState state;
    Services services{state, log, platform, view};
};

SimInterfaceOptions optionsOf(unsigned number) {
    SimInterfaceOptions options;
    options.road = number % 2 == 0 ? Road::usb : Road::driver;
    options.devicePath = "sim-" + std::to_string(number);
    return options;
}

struct Sample {
    unsigned runs = 0;
    long residentKb = 0;
    long descriptors = 0;
    long threads = 0;
    SimEnumerationCounters enumeration;
    SimUsbQueueCounters queues;
};

// Freed memory the allocator still holds (in the arenas of threads that have ended) goes back
// to the system first, so that the resident set counts what is in use: the samples then differ
// by what the runs kept, not by which arena each round's threads happened to take.
Sample sampleAfter(unsigned runs, const SimDriver& driver) {
    malloc_trim(0);
    return {runs,
            processStatusField("VmRSS"),
            openDescriptors(),
            processStatusField("Threads"),
            driver.counters(),
            driver.queueCounters()};
}

// One round: every phone attached now served at once; returns how many were.
unsigned serveRound(SimPlatform& sim) {
    const DriverPhoneLink link(sim.driver);
    const std::vector<AttachedPhone> phones = listAttachedPhones(sim.platform, link);
    if (phones.size() != kPhones) {
        throw std::runtime_error(std::to_string(phones.size()) + " phones arrived, not " +
                                 std::to_string(kPhones));
    }
    std::vector<std::unique_ptr<ArrivalSession>> sessions;
    std::vector<std::thread> threads;
    std::vector<char> served(phones.size(), 0);
    for (std::size_t k = 0; k < phones.size(); ++k) {
        sessions.push_back(std::make_unique<ArrivalSession>(sim.platform));
        threads.emplace_back([&, k] {
            served[k] = sessions[k]->serve(phones[k], "soak-" + phones[k].location + ".bin");
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t k = 0; k < phones.size(); ++k) {
        const std::string file = "soak-" + phones[k].location + ".bin";
        const unsigned number = static_cast<unsigned>(std::stoul(phones[k].location.substr(4)));
        if (!served[k] || !fileHolds(file, erasedFlashOf(number, kPdsStart, kPdsEnd))) {
            throw std::runtime_error("the run of " + phones[k].location + " failed");
        }
        std::filesystem::remove(file);
    }
    return static_cast<unsigned>(phones.size());
}

// Five phones attached on both roads to `sim`, each with flash of its own.
std::vector<SimInterfaceId> attachPhones(SimPlatform& sim) {
    std::vector<SimInterfaceId> ids;
    for (unsigned number = 1; number <= kPhones; ++number) {
        SimPhoneOptions flash;
        flash.erasedFlashMask = SimPhone::erasedFlashMaskOf(number);
        ids.push_back(sim.driver.attach(optionsOf(number), std::make_shared<SimPhone>(flash)));
    }
    return ids;
}

std::string handlesText(const Sample& sample) {
    return std::to_string(sample.descriptors) + " fds, " + std::to_string(sample.threads) +
           " threads, " + std::to_string(sample.enumeration.liveHandles) + " handles, " +
           std::to_string(sample.enumeration.liveSets) + " sets, " +
           std::to_string(sample.queues.liveQueues) + " queues";
}

// The samples of a soak, as a child prints them and the part reads them back.
struct SoakFigures {
    std::vector<long> residentKb;  // after every 10 runs
    bool handlesFlat = false;
    std::string handles;  // before the first run / after the last
    long growthKb() const { return residentKb.back() - residentKb[1]; }
};

constexpr char kSoakReport[] = "soak-kb";

void printFigures(const std::vector<Sample>& samples, bool handlesFlat,
                  const std::string& handles) {
    std::printf("%s %d", kSoakReport, handlesFlat ? 1 : 0);
    for (const Sample& sample : samples) std::printf(" %ld", sample.residentKb);
    std::printf("\n%s\n", handles.c_str());
}

// The soak proper: 100 runs through Norvale's sessions.
int soakThroughSessions() {
    const BenchFolder folder;
    SimPlatform sim(SimPlatform::Phone::none);
    sim.driver.keepTrace(false);
    sim.driver.returnAfterStart(kReturnMs);
    attachPhones(sim);

    const Sample start = sampleAfter(0, sim.driver);
    std::vector<Sample> samples;
    unsigned runs = 0;
    bool handlesFlat = true;
    for (unsigned round = 0; round < kRounds; ++round) {
        runs += serveRound(sim);
        sim.clock.sleep(kReturnMs);
        if (runs % kRunsPerSample != 0) continue;
        samples.push_back(sampleAfter(runs, sim.driver));
        const Sample& sample = samples.back();
        handlesFlat = handlesFlat && sample.descriptors == start.descriptors &&
                      sample.threads == start.threads &&
                      sample.enumeration.liveHandles == start.enumeration.liveHandles &&
                      sample.enumeration.liveSets == start.enumeration.liveSets &&
                      sample.queues.liveQueues == start.queues.liveQueues;
    }
    printFigures(samples, handlesFlat, handlesText(start) + " / " + handlesText(samples.back()));
    return 0;
}

// The simulator's part alone: the same phones leaving and attaching again as many times, with
// no session. The simulator keeps every interface it ever attached, so it grows by itself.
int soakSimulatorAlone() {
    SimPlatform sim(SimPlatform::Phone::none);
    sim.driver.keepTrace(false);
    std::vector<SimInterfaceId> ids = attachPhones(sim);
    std::vector<Sample> samples;
    unsigned runs = 0;
    for (unsigned round = 0; round < kRounds; ++round) {
        for (unsigned k = 0; k < kPhones; ++k) {
            const std::shared_ptr<SimPhone> phone = sim.driver.phone(ids[k]);
            sim.driver.detach(ids[k]);
            ids[k] = sim.driver.attach(optionsOf(k + 1), phone);
            ++runs;
        }
        if (runs % kRunsPerSample == 0) samples.push_back(sampleAfter(runs, sim.driver));
    }
    printFigures(samples, true, "");
    return 0;
}

SoakFigures soakInChild(const std::string& self, const std::string& kind,
                        const std::string& environment = {}) {
    const ChildRun run = runChild(self, "--child-soak " + kind, environment);
    const std::string& output = run.output;
    const int status = run.status;
    std::istringstream in(output);
    std::string word;
    int flat = 0;
    SoakFigures figures;
    if (status != 0 || !(in >> word >> flat) || word != kSoakReport) {
        throw std::runtime_error("the soak child failed: " + output);
    }
    figures.handlesFlat = flat != 0;
    std::string line;
    std::getline(in, line);
    std::istringstream numbers(line);
    for (long kb = 0; numbers >> kb;) figures.residentKb.push_back(kb);
    std::getline(in, figures.handles);
    if (figures.residentKb.size() != kRounds * kPhones / kRunsPerSample) {
        throw std::runtime_error("the soak child's samples are missing: " + output);
    }
    return figures;
}

std::string listed(const std::vector<long>& values) {
    std::string text;
    for (const long value : values) text += (text.empty() ? "" : " ") + std::to_string(value);
    return text;
}

}  // namespace

int runSoakChild(const std::string& kind) {
    try {
        if (kind == "sessions") return soakThroughSessions();
        if (kind == "simulator") return soakSimulatorAlone();
        std::printf("no soak '%s'\n", kind.c_str());
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
    }
    return 1;
}

void benchSoak(const std::string& self, ResultTable& table) {
    const SoakFigures sessions = soakInChild(self, "sessions");
    const SoakFigures oneArena = soakInChild(self, "sessions", "MALLOC_ARENA_MAX=1 ");
    const SoakFigures simulator = soakInChild(self, "simulator");
    const long ownKb = sessions.growthKb() - simulator.growthKb();
    const unsigned runs = kRounds * kPhones;
    table.add({"7",
               std::to_string(runs) +
                   " phone runs (arrive, PDS read, start, leave): VmRSS after each 10, kB",
               listed(sessions.residentKb), "", std::nullopt});
    table.add({"7", "  VmRSS after " + std::to_string(runs) + " runs less after 20",
               std::to_string(sessions.growthKb()) + " kB", "", std::nullopt});
    table.add({"7", "  of which the simulator's: its phones leaving and coming back alone",
               std::to_string(simulator.growthKb()) + " kB", "", std::nullopt});
    table.add({"7", "  the rest: the runs' own", std::to_string(ownKb) + " kB",
               "<= " + std::to_string(kFlatKb) + " kB", ownKb <= kFlatKb});
    table.add({"7", "  the same with glibc's allocator held to one arena (MALLOC_ARENA_MAX=1)",
               std::to_string(oneArena.growthKb() - simulator.growthKb()) + " kB", "",
               std::nullopt});
    table.add({"7", "  before the first run / after the last (checked after every 10 runs)",
               sessions.handles, "no growth", sessions.handlesFlat});
    table.note("#7: each soak in a child process of its own; before each sample the allocator "
               "gives back what it holds free (malloc_trim)");
}

}  // namespace norvale::bench
