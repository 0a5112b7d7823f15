// The station's rate against the one-phone rate, phones at once on buses of their own.
#include "StationBench.h"

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchFolder.h"
#include "Median.h"
#include "PlatformParts.h"
#include "StationRig.h"

namespace norvale::bench {
namespace {

struct CountFigures {
    std::vector<double> rates;         // bytes per modelled ms, one per run
    std::vector<double> ownPerPhone;   // Norvale's processor time, all threads, per phone
    std::vector<double> pathPerPhone;  // of which on the transfer paths, per phone
    std::vector<double> stationMs;
    std::vector<double> wallMs;
};

CountFigures runCount(unsigned count, int repeat, unsigned cores) {
    CountFigures figures;
    for (int i = 0; i <= repeat; ++i) {
        StationRig rig(count);
        const RigRun run = rig.run(true);
        if (const std::string failure = rig.check(); !failure.empty()) {
            throw std::runtime_error(std::to_string(count) + " phones: " + failure);
        }
        if (i == 0) continue;  // warms the caches and the allocator's arenas
        StationTime time;
        time.cores = cores;
        time.ownCpuMs = run.ownCpuMs();
        double onPath = 0;
        for (const RigPhoneRun& phone : run.phones) {
            time.phones.push_back(phone.time);
            onPath += phone.time.ownOnPathMs;
        }
        figures.rates.push_back(time.bytesPerMs());
        figures.ownPerPhone.push_back(time.ownCpuMs / count);
        figures.pathPerPhone.push_back(onPath / count);
        figures.stationMs.push_back(time.stationMs());
        figures.wallMs.push_back(run.wallMs);
    }
    return figures;
}

// The wall time of `count` phones at once, each run's files flushed to the disk before they are
// named or not: the medians of `repeat` runs after one untimed run.
double flushedWallMs(unsigned count, int repeat, bool flushes) {
    std::vector<double> wallMs;
    for (int i = 0; i <= repeat; ++i) {
        StationRig rig(count);
        rig.flushToDisk(flushes);
        const RigRun run = rig.run(true);
        if (const std::string failure = rig.check(); !failure.empty()) {
            throw std::runtime_error(std::to_string(count) + " phones: " + failure);
        }
        if (i > 0) wallMs.push_back(run.wallMs);
    }
    return median(wallMs);
}

// What putting each file on the disk before it is named costs: a phone's backup (four files, its
// folder) and the same for 16 phones at once, by the wall time, since a flush waits for the disk
// and takes almost no processor time.
void flushCost(const BenchOptions& options, ResultTable& table) {
    for (const unsigned count : {1u, kStationMemoryPhones}) {
        const double with = flushedWallMs(count, options.repeat, true);
        const double without = flushedWallMs(count, options.repeat, false);
        table.add({"6",
                   std::to_string(count) + (count == 1 ? " phone" : " phones at once") +
                       ": wall time with the files flushed before they are named / without",
                   formatFixed(with, 1) + " / " + formatFixed(without, 1) + " ms (+" +
                       formatFixed(with - without, 1) + " ms)",
                   "", std::nullopt});
    }
}

std::optional<double> targetFor(unsigned count) {
    if (count == 8) return 0.95;
    if (count == 16 || count == 64) return 0.90;
    return std::nullopt;
}

}  // namespace

void benchStation(const BenchOptions& options, ResultTable& table) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const BenchFolder folder;
    double onePhoneRate = 0;
    for (const unsigned count : kStationCounts) {
        const CountFigures figures = runCount(count, options.repeat, cores);
        if (count == 1) {
            onePhoneRate = median(figures.rates);
            table.add({"6",
                       "One phone: backup (Boot, PDS, Panic, SHA256SUMS), PDS written and "
                       "verified: " +
                           std::to_string(StationRig::bytesPerPhone() / 1024) + " KB moved",
                       formatFixed(median(figures.stationMs), 1) + " ms, " +
                           formatFixed(onePhoneRate, 1) + " bytes/ms",
                       "", std::nullopt});
        }
        std::vector<double> shares;
        for (const double rate : figures.rates) {
            shares.push_back(shareOfScaledRate(rate, count, onePhoneRate));
        }
        const double share = median(shares);
        const std::optional<double> target = targetFor(count);
        table.add({"6",
                   std::to_string(count) + (count == 1 ? " phone" : " phones") + ": rate / (" +
                       std::to_string(count) +
                       " x one phone's); Norvale's processor time a phone (on the path)",
                   formatFixed(100.0 * share, 2) + " %; " +
                       formatFixed(median(figures.ownPerPhone), 2) + " ms (" +
                       formatFixed(median(figures.pathPerPhone), 2) + " ms); wall " +
                       formatFixed(median(figures.wallMs), 0) + " ms",
                   target ? ">= " + formatFixed(100.0 * *target, 0) + " %" : "",
                   target ? std::optional<bool>(share >= *target) : std::nullopt});
    }
    table.note("#6: each phone on a full-speed bus and a virtual clock of its own (USB road, "
               "4 bulk IN transfers in flight); a phone's time is its modelled time plus its "
               "session thread's processor time outside the simulator; the station's time is "
               "the longest phone's, or Norvale's processor time on all threads over the " +
               std::to_string(cores) + " cores if that is more; medians of " +
               std::to_string(options.repeat) + " runs; wall time includes the simulator");
    flushCost(options, table);
    stationPeakMemory(table);
}

}  // namespace norvale::bench
