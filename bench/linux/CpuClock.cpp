// Processor time from the kernel's per-thread and per-process clocks.
#include "CpuClock.h"

#include <time.h>

namespace norvale::bench {
namespace {

double clockMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

double threadCpuMs() { return clockMs(CLOCK_THREAD_CPUTIME_ID); }
double processCpuMs() { return clockMs(CLOCK_PROCESS_CPUTIME_ID); }

}  // namespace norvale::bench
