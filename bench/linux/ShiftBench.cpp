// Ten thousand arrivals through one station engine, in a child process of its own.
#include "ShiftBench.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BenchFolder.h"
#include "ChildRun.h"
#include "Median.h"
#include "ProcessFigures.h"
#include "Stopwatch.h"
#include "cli/CliArguments.h"
#include "cli/CliProgram.h"
#include "cli/CliView.h"
#include "cli/StationConsole.h"
#include "sim/SimPlaceLocks.h"
#include "sim/SimPlatform.h"
#include "station/StationEngine.h"

namespace norvale::bench {
namespace {

constexpr unsigned kPhones = 16;
constexpr std::size_t kArrivals = 10000;
constexpr std::size_t kEarly = 100;
constexpr std::size_t kFull = 1000;  // the list of finished rows has long been full
constexpr std::size_t kLate = kArrivals - 100;
constexpr std::uint32_t kReturnMs = 20;
constexpr int kCopies = 200;  // timed at each point; the median is reported
constexpr long kFlatKb = 1024;
constexpr char kReport[] = "shift";

// A terminal that takes every drawing and keeps none of it.
class DiscardingTerminal final : public Console {
public:
    void write(ConsoleStream /*stream*/, std::string_view text) override {
        written_ += text.size();
    }
    bool isTerminal(ConsoleStream /*stream*/) const override { return true; }
    unsigned width() const override { return 120; }
    std::string language() const override { return "en"; }
    std::string nativeToUtf8(std::string_view text) const override { return std::string(text); }
    void watchInterrupt(std::atomic<bool>* /*flag*/) override {}
    bool enableCursorMoves() override { return true; }

private:
    std::atomic<std::uint64_t> written_{0};
};

long peakKb() { return processStatusField("VmHWM"); }

struct Point {
    long peakKb = 0;
    double snapshotUs = 0;
    double redrawUs = 0;
    std::size_t rows = 0;  // in a snapshot
};

// The copies a face makes, timed while the station serves.
Point measure(StationEngine& engine, StationConsole& face) {
    Point point;
    point.peakKb = peakKb();
    std::vector<double> snapshots;
    std::vector<double> redraws;
    for (int i = 0; i < kCopies; ++i) {
        Stopwatch copy;
        const StationStatus status = engine.snapshot();
        snapshots.push_back(copy.elapsedMs() * 1000.0);
        point.rows = status.rows.size();
        Stopwatch redraw;
        face.rowsChanged(engine);  // a forced drawing, as a phone's start or end makes one
        redraws.push_back(redraw.elapsedMs() * 1000.0);
    }
    point.snapshotUs = median(snapshots);
    point.redrawUs = median(redraws);
    return point;
}

std::size_t ended(const StationEngine& engine) {
    const StationStatus status = engine.snapshot();
    return status.done + status.failed;
}

int shiftThroughStation() {
    const BenchFolder folder;
    SimPlatform sim(SimPlatform::Phone::none);
    sim.driver.keepTrace(false);
    sim.driver.returnAfterStart(kReturnMs);
    sim.files.flushToDisk(false);  // the disk's pace is not the station's
    for (unsigned k = 1; k <= kPhones; ++k) {
        SimInterfaceOptions options;
        options.road = Road::usb;
        options.devicePath = "sim-" + std::to_string(k);
        sim.driver.attach(options);
    }
    // The loop's tenth of a second passes on the modelled clock with a little real time.
    sim.clock.setSleepHook([](std::uint32_t ms) {
        if (ms >= 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    SimPlaceLocks places;
    DiscardingTerminal terminal;
    CliBindings cli{terminal, sim.files, sim.clock, sim.threads, [&](bool) {
                        return std::make_shared<PhoneRoads>(
                            PhoneRoads{sim.driver, sim.driver, sim.driver, sim.driver, &places});
                    }};
    StationBindings bindings = stationBindings(cli, Language::english);
    // One second a phone on the wall clock: every phone's folder has a name of its own.
    std::atomic<std::int64_t> seconds{0};
    bindings.wallClock = [&seconds] {
        return WallTime(std::chrono::seconds(1796000000 + seconds.fetch_add(1)));
    };
    const std::vector<std::string> args{"--station", "--sim", "--count", std::to_string(kArrivals),
                                        "start"};
    const CommandLine line = parseCommandLine(args);
    CliView view(terminal, sim.clock, Language::english, false);
    StationConsole face(cli, view, false);
    StationEngine engine(bindings, stationPlan(line), &face);
    ExitCode code = ExitCode::done;
    std::thread worker([&] { code = engine.run(); });

    // Polled: the figures are taken while the station serves, as a face takes them.
    const auto reach = [&](std::size_t phones) {
        while (ended(engine) < phones && !engine.snapshot().ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    reach(kEarly);
    const Point early = measure(engine, face);
    reach(kFull);
    const Point full = measure(engine, face);
    reach(kLate);
    const Point late = measure(engine, face);
    worker.join();
    const long endKb = peakKb();
    const StationStatus status = engine.snapshot();
    if (code != ExitCode::done || status.done != kArrivals) {
        std::printf("the shift ended with %d after %zu phones (%zu failed)\n",
                    static_cast<int>(code), status.done, status.failed);
        return 1;
    }
    std::printf("%s %ld %ld %.2f %.2f %.2f %.2f %.2f %.2f %zu %zu %zu\n", kReport, early.peakKb,
                endKb, early.snapshotUs, full.snapshotUs, late.snapshotUs, early.redrawUs,
                full.redrawUs, late.redrawUs, early.rows, full.rows, late.rows);
    sim.driver.detachAll();
    return 0;
}

// The simulator alone: the same phones leaving and attaching again as many times.
int shiftSimulatorAlone() {
    SimPlatform sim(SimPlatform::Phone::none);
    sim.driver.keepTrace(false);
    std::vector<SimInterfaceId> ids;
    const auto optionsOf = [](unsigned k) {
        SimInterfaceOptions options;
        options.road = Road::usb;
        options.devicePath = "sim-" + std::to_string(k);
        return options;
    };
    for (unsigned k = 1; k <= kPhones; ++k) ids.push_back(sim.driver.attach(optionsOf(k)));
    long earlyKb = 0;
    for (std::size_t arrival = kPhones; arrival < kArrivals; ++arrival) {
        if (arrival == kEarly) earlyKb = peakKb();
        const std::size_t k = arrival % kPhones;
        const std::shared_ptr<SimPhone> phone = sim.driver.phone(ids[k]);
        sim.driver.detach(ids[k]);
        ids[k] = sim.driver.attach(optionsOf(static_cast<unsigned>(k + 1)), phone);
    }
    std::printf("%s %ld %ld\n", kReport, earlyKb, peakKb());
    return 0;
}

std::vector<double> childFigures(const std::string& self, const std::string& kind) {
    const ChildRun run = runChild(self, "--child-shift " + kind);
    std::istringstream in(run.output);
    std::string word;
    in >> word;
    std::vector<double> figures;
    for (double value = 0; in >> value;) figures.push_back(value);
    if (run.status != 0 || word != kReport || figures.empty()) {
        throw std::runtime_error("the shift child failed: " + run.output);
    }
    return figures;
}

}  // namespace

int runShiftChild(const std::string& kind) {
    try {
        if (kind == "station") return shiftThroughStation();
        if (kind == "simulator") return shiftSimulatorAlone();
        std::printf("no shift '%s'\n", kind.c_str());
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
    }
    return 1;
}

void benchShift(const std::string& self, ResultTable& table) {
    const std::vector<double> station = childFigures(self, "station");
    const std::vector<double> simulator = childFigures(self, "simulator");
    if (station.size() != 11 || simulator.size() != 2) {
        throw std::runtime_error("the shift children's figures are missing");
    }
    const long stationGrowth = static_cast<long>(station[1] - station[0]);
    const long simulatorGrowth = static_cast<long>(simulator[1] - simulator[0]);
    const long ownGrowth = stationGrowth - std::max(0L, simulatorGrowth);
    table.add({"9",
               "Shift, 10000 arrivals (chain start, 16 places): peak memory after the 100th "
               "phone / at the end; growth (the simulator's own, taken off)",
               formatFixed(station[0], 0) + " / " + formatFixed(station[1], 0) + " kB; " +
                   std::to_string(ownGrowth) + " kB (" + std::to_string(simulatorGrowth) + " kB)",
               "<= " + std::to_string(kFlatKb) + " kB", ownGrowth <= kFlatKb});
    // Three points each: 100, 1000 and 9900 phones ended; the target compares the last two.
    const auto three = [](const std::vector<double>& f, std::size_t at, const char* unit) {
        return formatFixed(f[at], 1) + " / " + formatFixed(f[at + 1], 1) + " / " +
               formatFixed(f[at + 2], 1) + " " + unit + " (x" +
               formatFixed(f[at + 2] / f[at + 1], 2) + ")";
    };
    table.add({"9",
               "Shift: snapshot() at 100 / 1000 / 9900 phones ended (" +
                   formatFixed(station[8], 0) + " / " + formatFixed(station[9], 0) + " / " +
                   formatFixed(station[10], 0) + " rows), median of " + std::to_string(kCopies),
               three(station, 2, "us"), "<= x1.5", station[4] / station[3] <= 1.5});
    table.add({"9", "Shift: the console's redraw at 100 / 1000 / 9900 phones ended",
               three(station, 5, "us"), "<= x1.5", station[7] / station[6] <= 1.5});
    table.note("#9: a snapshot holds the running phones and the latest 300 finished, so it grows "
               "until 300 phones have ended and not after: the target compares 9900 phones with "
               "1000 (x: 9900 / 1000). The console's table has one row a place. Taken while the "
               "station serves, so the figures move with what the other threads do then.");
}

}  // namespace norvale::bench
