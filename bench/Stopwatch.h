// Wall time of one stretch of the benchmark, in the units its table reports.
#pragma once

#include <chrono>
#include <cstdint>

namespace norvale::bench {

using BenchClock = std::chrono::steady_clock;

inline double millisecondsBetween(BenchClock::time_point from, BenchClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Started on construction; elapsed() may be read any number of times.
class Stopwatch {
public:
    Stopwatch() : started_(BenchClock::now()) {}
    void restart() { started_ = BenchClock::now(); }
    double elapsedMs() const { return millisecondsBetween(started_, BenchClock::now()); }

private:
    BenchClock::time_point started_;
};

}  // namespace norvale::bench
