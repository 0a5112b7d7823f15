// The simulator's driver with the processor time spent inside it counted, so it can be told
// apart from Norvale's own time.
#pragma once

#include <cstdint>

#include "platform/DriverPort.h"

namespace norvale::bench {

// Forwards every request to `inner` unchanged and adds the calling thread's processor time
// inside it to a running total. What it counts is everything below the seam: the simulated
// driver's record checks, its trace line, the phone's logic and flash, and the bus model. The
// two clock reads per request are the only cost it adds, and they fall on both sides of the line.
//
// Used from one command worker at a time; the total is not guarded.
class TimedDriverPort final : public DriverPort {
public:
    explicit TimedDriverPort(DriverPort& inner) : inner_(inner) {}

    ControlResult control(DeviceHandle device, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                          std::uint32_t waitMs) override;
    void cancel(DeviceHandle device) override { inner_.cancel(device); }

    double insideMs() const { return insideMs_; }
    std::uint64_t requests() const { return requests_; }
    void reset() {
        insideMs_ = 0;
        requests_ = 0;
    }

private:
    DriverPort& inner_;
    double insideMs_ = 0;
    std::uint64_t requests_ = 0;
};

}  // namespace norvale::bench
