// The simulator's driver with the wall time spent inside it counted, so it can be told apart
// from Norvale's own time.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/DriverPort.h"

namespace norvale::bench {

// Forwards every request to `inner` unchanged and adds the wall time each one took to a running
// total. What it counts is everything below the seam: the simulated driver's record checks, its
// trace line, the phone's logic and flash, and the clock of the link model. The two clock reads
// per request are the only cost it adds, and they fall on both sides of the line.
//
// Used from one command worker at a time; the total is not guarded.
class TimedDriverPort final : public DriverPort {
public:
    explicit TimedDriverPort(DriverPort& inner) : inner_(inner) {}

    ControlResult control(DeviceHandle device, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                          std::uint32_t waitMs) override;

    double insideMs() const { return std::chrono::duration<double, std::milli>(inside_).count(); }
    std::uint64_t requests() const { return requests_; }
    void reset() {
        inside_ = {};
        requests_ = 0;
    }

private:
    DriverPort& inner_;
    std::chrono::steady_clock::duration inside_{};
    std::uint64_t requests_ = 0;
};

}  // namespace norvale::bench
