// The presence handling of the programs.
#include "ui/PresenceHooks.h"

namespace norvale {

PresenceHooks productPresenceHooks(Services&) {
    // The connection monitor and its arrival and removal handling are plugged in here.
    return PresenceHooks{};
}

}  // namespace norvale
