// What watching idle phones costs: the process's processor time and the looks at the bus.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "CpuClock.h"

namespace norvale::bench {

struct WatchCost {
    double cpuPercent = 0;  // of one core
    double looksPerSecond = 0;
};

// The figures over the time `idle` takes, `looks` counting the looks at the bus as they are made.
template <class Idle>
WatchCost measureWatch(const std::atomic<std::uint64_t>& looks, Idle&& idle) {
    const std::uint64_t looksBefore = looks.load();
    const double cpuBefore = processCpuMs();
    const auto begin = std::chrono::steady_clock::now();
    idle();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return {(processCpuMs() - cpuBefore) / (seconds * 1000.0) * 100.0,
            static_cast<double>(looks.load() - looksBefore) / seconds};
}

}  // namespace norvale::bench
