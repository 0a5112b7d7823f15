// A hundred phone runs with phones arriving and leaving, sampled every ten.
#include "SoakBench.h"

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchFolder.h"
#include "BenchPhone.h"
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

struct Sample {
    unsigned runs = 0;
    long residentKb = 0;
    long descriptors = 0;
    long threads = 0;
    SimEnumerationCounters enumeration;
    SimUsbQueueCounters queues;
};

Sample sampleAfter(unsigned runs, const SimDriver& driver) {
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

std::string handlesText(const Sample& sample) {
    return std::to_string(sample.descriptors) + " fds, " + std::to_string(sample.threads) +
           " threads, " + std::to_string(sample.enumeration.liveHandles) + " handles, " +
           std::to_string(sample.enumeration.liveSets) + " sets, " +
           std::to_string(sample.queues.liveQueues) + " queues";
}

}  // namespace

void benchSoak(const BenchOptions&, ResultTable& table) {
    const BenchFolder folder;
    SimPlatform sim(SimPlatform::Phone::none);
    sim.driver.keepTrace(false);
    sim.driver.returnAfterStart(kReturnMs);
    for (unsigned number = 1; number <= kPhones; ++number) {
        SimInterfaceOptions options;
        options.road = number % 2 == 0 ? Road::usb : Road::driver;
        options.devicePath = "sim-" + std::to_string(number);
        SimPhoneOptions flash;
        flash.erasedFlashMask = SimPhone::erasedFlashMaskOf(number);
        sim.driver.attach(options, std::make_shared<SimPhone>(flash));
    }

    const Sample start = sampleAfter(0, sim.driver);
    std::vector<Sample> samples;
    unsigned runs = 0;
    for (unsigned round = 0; round < kRounds; ++round) {
        runs += serveRound(sim);
        sim.clock.sleep(kReturnMs);
        if (runs % kRunsPerSample == 0) samples.push_back(sampleAfter(runs, sim.driver));
    }
    if (samples.size() < 2 || samples[1].runs != 2 * kRunsPerSample) {
        throw std::runtime_error("the soak's samples are missing");
    }

    std::string resident;
    for (const Sample& sample : samples) {
        resident += (resident.empty() ? "" : " ") + std::to_string(sample.residentKb);
    }
    const Sample& twenty = samples[1];
    const Sample& last = samples.back();
    const long movedKb = last.residentKb - twenty.residentKb;
    const bool handlesBack = last.descriptors == start.descriptors &&
                             last.threads == start.threads &&
                             last.enumeration.liveHandles == start.enumeration.liveHandles &&
                             last.enumeration.liveSets == start.enumeration.liveSets &&
                             last.queues.liveQueues == start.queues.liveQueues;
    bool handlesFlat = handlesBack;
    for (const Sample& sample : samples) {
        handlesFlat = handlesFlat && sample.descriptors == start.descriptors &&
                      sample.threads == start.threads &&
                      sample.enumeration.liveHandles == start.enumeration.liveHandles;
    }
    table.add({"7",
               std::to_string(runs) + " phone runs (arrive, PDS read, start, leave): VmRSS after "
                                      "each 10, kB",
               resident, "", std::nullopt});
    table.add({"7", "  VmRSS after " + std::to_string(last.runs) + " runs less after 20",
               std::to_string(movedKb) + " kB", "<= " + std::to_string(kFlatKb) + " kB",
               movedKb <= kFlatKb});
    table.add({"7", "  before the first run / after every 10 runs",
               handlesText(start) + " / " + handlesText(last), "no growth", handlesFlat});
}

}  // namespace norvale::bench
