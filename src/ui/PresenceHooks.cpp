// The presence handling of the programs.
#include "ui/PresenceHooks.h"

#include "presence/ConnectionMonitor.h"
#include "presence/PresenceHandling.h"

namespace norvale {

PresenceHooks productPresenceHooks(Services& services) {
    return PresenceHooks{
        // The monitor lives on its thread's stack for the life of the process.
        [&services] { ConnectionMonitor(services.platform, services.view).run(); },
        [&services] { handleArrival(services); },
        [&services] { handleRemoval(services); },
    };
}

}  // namespace norvale
