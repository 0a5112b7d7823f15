// What the UI thread does when the monitor reports a phone's arrival or removal.
#pragma once

#include <memory>

#include "presence/PhoneInfo.h"
#include "protocol/CommandContext.h"

namespace norvale {

// UI thread only. Begins the session's jump state afresh (SessionState::beginArrival), sets
// connected, logs the arrival, shows "Подключен", opens the flash interface
// as the session's new device (also when nothing could be opened) and logs the phone's
// information. The device it replaces is closed once no running command holds it any more.
// busy is left alone: it belongs to the command runner.
void handleArrival(Services& services);

// The same for a phone the caller has opened itself (the command line picks one of several):
// `device` becomes the session's device in place of the first one the finders would open. Returns
// what the phone told of itself.
PhoneIdentity handleArrivalOf(Services& services, std::shared_ptr<const OpenDevice> device);

// UI thread only. Clears connected, logs the removal and an empty line, shows "Не подключен",
// and lets go of the session's device: it is closed now, or when a command still running with
// the handle it took ends.
void handleRemoval(Services& services);

}  // namespace norvale
