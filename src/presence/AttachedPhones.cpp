// The phones of both roads as one list, and their opening by location.
#include "presence/AttachedPhones.h"

#include <algorithm>
#include <optional>

#include "presence/FlashInterfaceFinder.h"

namespace norvale {
namespace {

// Whether the driver's present interfaces hold `devicePath`, by their paths alone.
bool driverHolds(InterfaceEnumerator& interfaces, const std::string& devicePath) {
    const DeviceSet set = interfaces.openSet();
    if (!set.valid()) return false;
    bool found = false;
    for (std::uint32_t index = 0; !found; ++index) {
        const std::optional<InterfaceRef> member = interfaces.member(set, index);
        if (!member) break;
        const DetailSizeResult size = interfaces.detailSize(set, *member);
        if (!size.sizeKnown) break;
        const std::optional<std::string> path =
            interfaces.devicePath(set, *member, size.requiredSize);
        found = path && *path == devicePath;
    }
    interfaces.closeSet(set);
    return found;
}

}  // namespace

std::vector<AttachedPhone> listAttachedPhones(Platform& platform, const PhoneLink& driverLink) {
    std::vector<AttachedPhone> phones;
    FlashInterfaceFinder finder(platform.interfaces, driverLink);
    for (std::string& path : finder.listFlashInterfaces(kFlashPrefix)) {
        phones.push_back(
            {"driver:" + std::to_string(phones.size() + 1), Road::driver, std::move(path)});
    }
    for (std::string& location : platform.usb.listPhones()) {
        phones.push_back({"usb:" + location, Road::usb, std::move(location)});
    }
    return phones;
}

std::shared_ptr<const OpenDevice> openAttachedPhone(Platform& platform,
                                                    const AttachedPhone& phone) {
    if (phone.road == Road::usb) {
        return std::make_shared<const OpenDevice>(platform.usb.open(phone.location), platform.usb,
                                                  Road::usb);
    }
    return std::make_shared<const OpenDevice>(platform.interfaces.open(phone.location),
                                              platform.interfaces);
}

bool stillAttached(Platform& platform, const AttachedPhone& phone) {
    if (phone.road == Road::driver) return driverHolds(platform.interfaces, phone.location);
    const std::vector<std::string> locations = platform.usb.listPhones();
    return std::find(locations.begin(), locations.end(), phone.location) != locations.end();
}

}  // namespace norvale
