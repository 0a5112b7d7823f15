// The clock seam over the monotonic clock, for the programs that run on Linux.
#pragma once

#include "platform/Clock.h"

namespace norvale {

class PosixClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::uint64_t nowMs() const override;
};

}  // namespace norvale
