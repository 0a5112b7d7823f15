// Virtual time: sleeping advances it.
#include "VirtualClock.h"

namespace norvale {

void VirtualClock::sleep(std::uint32_t ms) {
    now_.fetch_add(ms);
    sleepCalls_.fetch_add(1);
    if (hook_) hook_(ms);
}

}  // namespace norvale
