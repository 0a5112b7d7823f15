// A clock whose time only moves when someone sleeps on it, so timed code runs at once in tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/Clock.h"

namespace norvale {

// sleep() adds its argument to the virtual time and returns; nothing waits in real time. Any
// thread may sleep and read the time at once.
class VirtualClock final : public Clock {
public:
    void sleep(std::uint32_t ms) override;
    std::uint64_t nowMs() const override { return now_.load(); }

    // Milliseconds slept on this clock so far, by all threads together.
    std::uint64_t now() const { return now_.load(); }
    std::uint64_t sleepCalls() const { return sleepCalls_.load(); }

    // Called after every sleep with its duration, on the sleeping thread. A test uses it to hold a
    // looping thread (a monitor scanning once a second) at a point it can observe, or to yield so
    // such a loop does not spin. Set it before any thread sleeps; it is not guarded.
    void setSleepHook(std::function<void(std::uint32_t)> hook) { hook_ = std::move(hook); }

private:
    std::atomic<std::uint64_t> now_{0};
    std::atomic<std::uint64_t> sleepCalls_{0};
    std::function<void(std::uint32_t)> hook_;
};

}  // namespace norvale
