// Arrival and removal handling on the UI thread.
#include "presence/PresenceHandling.h"

#include <memory>

#include "core/OperatorTexts.h"
#include "presence/FlashInterfaceFinder.h"
#include "presence/PhoneInfo.h"
#include "presence/UsbPhoneFinder.h"

namespace norvale {

namespace {

void announceArrival(Services& services) {
    // A phone that arrives has just started its flash mode: nothing of an earlier arrival's
    // bootstrap is in its RAM, so its first command sends the jump image again.
    services.state.beginArrival();
    services.state.connected.store(true);
    services.log.append(MessageId::phoneConnected);
    services.view.setStatusText(text::kStatusConnected);
}

PhoneIdentity takeDevice(Services& services, std::shared_ptr<const OpenDevice> opened) {
    // The old device's last owner closes it: the session now, or a worker that took it.
    services.state.device.store(std::move(opened));
    return readPhoneInfo(services);
}

}  // namespace

void handleArrival(Services& services) {
    announceArrival(services);

    // The driver's interfaces first, as the monitor scans them; a USB phone only when the driver
    // has none to open.
    FlashInterfaceFinder finder(services.platform.interfaces, services.driverLink);
    std::shared_ptr<const OpenDevice> opened;
    if (const DeviceHandle handle = finder.openFlashInterface(kFlashPrefix); handle.valid()) {
        opened = std::make_shared<const OpenDevice>(handle, services.platform.interfaces);
    } else if (const DeviceHandle usb = UsbPhoneFinder(services.platform.usb).openPhone();
               usb.valid()) {
        opened = std::make_shared<const OpenDevice>(usb, services.platform.usb, Road::usb);
    } else {
        // Nothing opened: commands fail later on the invalid handle.
        opened = std::make_shared<const OpenDevice>(kInvalidDevice, services.platform.interfaces);
    }
    takeDevice(services, std::move(opened));
}

PhoneIdentity handleArrivalOf(Services& services, std::shared_ptr<const OpenDevice> device) {
    announceArrival(services);
    return takeDevice(services, std::move(device));
}

void handleRemoval(Services& services) {
    services.state.connected.store(false);
    // The session lets go of the device now, not at the next arrival: Windows can't finish
    // removing a device while a handle to it is open, and until then a phone plugged back into
    // the same socket may not show up. A command still running keeps it until it ends.
    services.state.device.store(nullptr);
    services.log.append(MessageId::phoneDisconnected);
    services.view.setStatusText(text::kStatusDisconnected);
}

}  // namespace norvale
