// Builds the watched key's path from a device path, with no limit on the path's length.
#include "presence/RemovalKeyPath.h"

namespace norvale {

std::string removalKeyPath(std::string_view devicePath) {
    std::string path;
    path.reserve(kDeviceClassKeyPrefix.size() + devicePath.size() + kDeviceClassKeySuffix.size());
    path += kDeviceClassKeyPrefix;
    path += devicePath;
    path += kDeviceClassKeySuffix;
    // Only characters of the device path are replaced, never the suffix after a short one.
    if (devicePath.size() >= 4) {
        const std::size_t start = kDeviceClassKeyPrefix.size();
        path[start] = '#';
        path[start + 1] = '#';
        path[start + 3] = '#';
    }
    return path;
}

}  // namespace norvale
