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
    stationPeakMemory(table);
}

}  // namespace norvale::bench
