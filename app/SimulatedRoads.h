// norvale-cli --sim: both roads through the simulator that the environment describes.
#pragma once

#include <memory>

#include "cli/CliProgram.h"
#include "sim/SimDriver.h"

namespace norvale {

// The simulated phones the environment describes (SimDriver::fromEnvironment: one, or
// NORVALE_SIM_PHONES of them, on the road NORVALE_SIM_ROAD names, with their arrivals, returns,
// faults and traces). Their flash lives as long as the returned roads: a round trip has to
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
