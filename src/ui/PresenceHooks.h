// How the dialog reaches the phone-presence layer: the monitor thread and its two notifications.
#pragma once

#include <functional>

#include "protocol/CommandContext.h"

namespace norvale {

// Any of these may be empty: no monitor thread is started for an empty `monitor`, and an empty
// handler ignores its notification.
struct PresenceHooks {
    // The monitor thread's whole life; started once, from the dialog's initialisation. It reaches
    // the dialog only through DialogView::sendPresence (1 = arrival, 0 = removal).
    std::function<void()> monitor;
    // Run on the UI thread while the monitor waits in sendPresence.
    std::function<void()> onArrival;
    std::function<void()> onRemoval;
};

// The presence handling the programs run, over the programs' long-lived services.
PresenceHooks productPresenceHooks(Services& services);

}  // namespace norvale
