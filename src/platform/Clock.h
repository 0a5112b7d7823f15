// Seam: sleeping.
#pragma once

#include <cstdint>

namespace norvale {

// Contract: sleep() returns after `ms` milliseconds of this clock's time. The real clock sleeps;
// the simulator's virtual clock only advances, so timed state machines run at once in tests.
// nowMs() is this clock's time in milliseconds from an arbitrary start; it never goes back. Any
// thread may call either.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep(std::uint32_t ms) = 0;
    virtual std::uint64_t nowMs() const = 0;
};

}  // namespace norvale
