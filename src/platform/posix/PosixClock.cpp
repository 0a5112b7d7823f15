// Real time: sleeps that a signal does not cut short, and CLOCK_MONOTONIC, which never goes back.
#include "platform/posix/PosixClock.h"

#include <cerrno>
#include <ctime>

namespace norvale {

void PosixClock::sleep(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::uint64_t PosixClock::nowMs() const {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace norvale
