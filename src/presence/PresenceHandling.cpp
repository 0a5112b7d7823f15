// Arrival and removal handling on the UI thread.
#include "presence/PresenceHandling.h"

#include <memory>

#include "core/OperatorTexts.h"
#include "presence/FlashInterfaceFinder.h"
#include "presence/PhoneInfo.h"

namespace norvale {

void handleArrival(Services& services) {
    services.state.connected.store(true);
    services.log.append(text::kPhoneConnected);
    services.view.setStatusText(text::kStatusConnected);

    FlashInterfaceFinder finder(services.platform.interfaces, services.link);
    const DeviceHandle handle = finder.openFlashInterface(kFlashPrefix);
    // The old device's last owner closes it: the session now, or a worker that took it.
    services.state.device.store(
        std::make_shared<const OpenDevice>(handle, services.platform.interfaces));

    readPhoneInfo(services);
}

void handleRemoval(Services& services) {
    services.state.connected.store(false);
    services.log.append(text::kPhoneDisconnected);
    services.log.append(text::kLineEnd);
    services.view.setStatusText(text::kStatusDisconnected);
}

}  // namespace norvale
