// norvale-cli --sim: both roads through the simulator that the environment describes.
#pragma once

#include <memory>

#include "cli/CliProgram.h"
#include "sim/SimDriver.h"
#include "sim/SimPlaceLocks.h"

namespace norvale {

// The simulated phones the environment describes (SimDriver::fromEnvironment: one, or
// NORVALE_SIM_PHONES of them, on the road NORVALE_SIM_ROAD names, with their arrivals, returns,
// faults and traces). Their flash lives as long as the returned roads: a round trip has to
// happen within one run.
inline std::shared_ptr<PhoneRoads> simulatedRoads(Clock& clock) {
    struct Held {
        std::unique_ptr<SimDriver> sim;
        std::unique_ptr<SimPlaceLocks> places;
        PhoneRoads roads;
    };
    std::unique_ptr<SimDriver> sim = SimDriver::fromEnvironment(clock);
    auto places = std::make_unique<SimPlaceLocks>();
    SimDriver& driver = *sim;
    SimPlaceLocks& locks = *places;
    auto held = std::make_shared<Held>(
        Held{std::move(sim), std::move(places), {driver, driver, driver, driver, &locks}});
    return {held, &held->roads};
}

}  // namespace norvale
