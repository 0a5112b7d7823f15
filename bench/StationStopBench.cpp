// How long Stop takes to end a station whose one phone never answers.
#include "StationStopBench.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchFolder.h"
#include "Median.h"
#include "Stopwatch.h"
#include "cli/CliArguments.h"
#include "sim/HostFileSystem.h"
#include "sim/SimDriver.h"
#include "sim/StdThreadStarter.h"
#include "station/StationEngine.h"

namespace norvale::bench {
namespace {

// Real time: the hung transfer waits in real time, as it does on a real phone, and so does Stop.
class SteadyClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::uint64_t nowMs() const override {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              BenchClock::now().time_since_epoch())
                                              .count());
    }
};

// The 40th transfer of phone 2 falls in its backup's first dump and never ends (its wait is a
// minute); phone 1 is served to its end meanwhile.
constexpr std::uint64_t kHungTransfer = 40;

// One station run of `backup` on two phones of `road`, stopped once phone 2 is hung and phone 1
// done: the milliseconds from requestStop() to run()'s return.
double stopOnce(Road road) {
    SteadyClock clock;
    SimDriver sim(clock);
    for (unsigned k = 1; k <= 2; ++k) {
        SimInterfaceOptions options;
        options.road = road;
        options.devicePath = road == Road::usb ? "sim-" + std::to_string(k)
                                               : R"(\\?\usb#vid_22b8&pid_4903#sim-)" +
                                                     std::to_string(k) + "#{flash}";
        sim.attach(options);
    }
    sim.addFault(2, SimFaultKind::hang, kHungTransfer);
    HostFileSystem files;
    StdThreadStarter threads;
    StationBindings bindings{
        files, clock, threads,
        [&sim](bool /*simulated*/) {
            return std::make_shared<PhoneRoads>(PhoneRoads{sim, sim, sim, sim});
        },
        [](std::string_view text) { return std::string(text); }};
    const std::vector<std::string> args{"--station", "--sim", "backup"};
    StationEngine engine(bindings, stationPlan(parseCommandLine(args)));
    std::thread station([&engine] { engine.run(); });

    // Phone 1 done and phone 2 in its hung transfer, then a little more so the stop meets it
    // waiting, not arriving.
    const Stopwatch waited;
    while (engine.snapshot().done < 1 || sim.pipeTransfersOf(2) < kHungTransfer) {
        if (waited.elapsedMs() > 30000) {
            engine.requestStop();
            station.join();
            throw std::runtime_error("the phones did not reach the hung transfer");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Stopwatch stopping;
    engine.requestStop();
    station.join();
    const double ms = stopping.elapsedMs();
    const StationStatus status = engine.snapshot();
    if (status.rows.size() != 2 || !stoppedByOperator(status.rows[1])) {
        throw std::runtime_error("the hung phone did not end as stopped");
    }
    sim.detachAll();
    return ms;
}

}  // namespace

void stationStopTime(const BenchOptions& options, ResultTable& table) {
    const BenchFolder folder;
    for (const Road road : {Road::usb, Road::driver}) {
        std::vector<double> times;
        for (int i = 0; i < std::max(options.repeat, 1); ++i) times.push_back(stopOnce(road));
        const double middle = median(times);
        table.add({"6",
                   std::string("Stop to the last session ended, one of two phones hung (") +
                       (road == Road::usb ? "USB road" : "driver road") + "), median of " +
                       std::to_string(times.size()),
                   formatFixed(middle, 1) + " ms (slowest " +
                       formatFixed(*std::max_element(times.begin(), times.end()), 1) + " ms)",
                   "< 1000 ms", middle < 1000});
    }
}

}  // namespace norvale::bench
