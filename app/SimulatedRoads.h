// norvale-cli --sim: both roads through the simulator that the environment describes.
#pragma once

#include <memory>

#include "cli/CliProgram.h"
#include "sim/SimDriver.h"

namespace norvale {

// One simulated phone on the road NORVALE_SIM_ROAD names, with NORVALE_SIM_TRACE and
// NORVALE_SIM_FAULTS applied. Its flash lives as long as the returned roads: a round trip has to
// happen within one run.
inline std::shared_ptr<PhoneRoads> simulatedRoads(Clock& clock) {
    struct Held {
        std::unique_ptr<SimDriver> sim;
        PhoneRoads roads;
    };
    std::unique_ptr<SimDriver> sim = SimDriver::fromEnvironment(clock);
    SimDriver& driver = *sim;
    auto held = std::make_shared<Held>(Held{std::move(sim), {driver, driver, driver, driver}});
    return {held, &held->roads};
}

}  // namespace norvale
