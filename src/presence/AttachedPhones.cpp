// The phones of both roads as one list, and their opening by location.
#include "presence/AttachedPhones.h"

#include <algorithm>
#include <optional>

#include "presence/FlashInterfaceFinder.h"

namespace norvale {

std::vector<std::string> presentDriverPaths(InterfaceEnumerator& interfaces) {
    std::vector<std::string> paths;
    const DeviceSet set = interfaces.openSet();
    if (!set.valid()) return paths;
    for (std::uint32_t index = 0;; ++index) {
        const std::optional<InterfaceRef> member = interfaces.member(set, index);
        if (!member) break;
        const DetailSizeResult size = interfaces.detailSize(set, *member);
        if (!size.sizeKnown) break;
        if (std::optional<std::string> path =
                interfaces.devicePath(set, *member, size.requiredSize)) {
            paths.push_back(std::move(*path));
        }
    }
    interfaces.closeSet(set);
    return paths;
}

std::vector<AttachedPhone> listAttachedPhones(Platform& platform, const PhoneLink& driverLink) {
    std::vector<AttachedPhone> phones;
    FlashInterfaceFinder finder(platform.interfaces, driverLink);
    for (FlashInterface& found : finder.listFlashInterfaces(kFlashPrefix)) {
        phones.push_back(AttachedPhone::onDriver(phones.size() + 1, std::move(found.path),
                                                 std::move(found.socket)));
    }
    for (std::string& location : platform.usb.listPhones()) {
        std::string serial = platform.usb.serialNumber(location);
        phones.push_back(AttachedPhone::onUsb(std::move(location), std::move(serial)));
    }
    return phones;
}

std::shared_ptr<const OpenDevice> openAttachedPhone(Platform& platform,
                                                    const AttachedPhone& phone) {
    if (phone.road == Road::usb) {
        return std::make_shared<const OpenDevice>(platform.usb.open(phone.path), platform.usb,
                                                  Road::usb);
    }
    return std::make_shared<const OpenDevice>(platform.interfaces.open(phone.path),
                                              platform.interfaces);
}

std::optional<MessageId> openRefusal(Platform& platform, const AttachedPhone& phone,
                                     const OpenDevice& device) {
    if (phone.road != Road::usb || device.handle().valid()) return std::nullopt;
    switch (platform.usb.openFailure(phone.path)) {
        case UsbOpenFailure::noPermission: return MessageId::noUsbPermission;
        case UsbOpenFailure::inUse: return MessageId::phoneInUse;
        default: return std::nullopt;
    }
}

bool stillAttached(Platform& platform, const AttachedPhone& phone) {
    const std::vector<std::string> locations = phone.road == Road::driver
                                                   ? presentDriverPaths(platform.interfaces)
                                                   : platform.usb.listPhones();
    return std::find(locations.begin(), locations.end(), phone.path) != locations.end();
}

}  // namespace norvale
