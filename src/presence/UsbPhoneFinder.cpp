// The USB road's presence scan and open: by vendor and product id alone.
#include "presence/UsbPhoneFinder.h"

namespace norvale {

std::optional<std::string> UsbPhoneFinder::scanForPhone() {
    std::vector<std::string> phones = usb_.listPhones();
    if (phones.empty()) return std::nullopt;
    return std::move(phones.front());
}

DeviceHandle UsbPhoneFinder::openPhone() {
    // A phone that another program holds is skipped, as on the driver road.
    for (const std::string& location : usb_.listPhones()) {
        const DeviceHandle handle = usb_.open(location);
        if (handle.valid()) return handle;
    }
    return kInvalidDevice;
}

}  // namespace norvale
