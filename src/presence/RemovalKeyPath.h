// The registry key under HKEY_LOCAL_MACHINE whose change tells that a watched phone went away.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

inline constexpr std::string_view kDeviceClassKeyPrefix =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
    "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";
// The device path starts at position 86 of the key path, where the replaced characters are.
static_assert(kDeviceClassKeyPrefix.size() == 86);
inline constexpr std::string_view kDeviceClassKeySuffix = "\\#\\Control";

// The prefix, the device path with its first, second and fourth characters turned into '#',
// and the suffix: the system keeps the interface "\\?\usb#..." under the name "##?#usb#...". A
// path too short to hold all three of those characters is kept as it is.
std::string removalKeyPath(std::string_view devicePath);

}  // namespace norvale
