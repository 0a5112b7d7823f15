// The clock seam over Sleep.
#pragma once

#include "platform/Clock.h"

namespace norvale {

class Win32Clock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::uint64_t nowMs() const override;
};

}  // namespace norvale
