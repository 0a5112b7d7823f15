// "Port_#0003.Hub_#0001" to "hub1-port3".
#include "platform/win32/UsbSocketName.h"

#include <optional>

namespace norvale {

std::string usbSocketName(std::string_view text) {
    // Two numbers of four decimal digits each, as the hub driver writes them.
    constexpr std::string_view port = "Port_#";
    constexpr std::string_view hub = ".Hub_#";
    constexpr std::size_t digits = 4;
    const auto number = [](std::string_view field) -> std::optional<unsigned> {
        unsigned value = 0;
        for (const char c : field) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return value;
    };
    if (text.size() != port.size() + digits + hub.size() + digits ||
        text.substr(0, port.size()) != port ||
        text.substr(port.size() + digits, hub.size()) != hub) {
        return {};
    }
    const auto portNumber = number(text.substr(port.size(), digits));
    const auto hubNumber = number(text.substr(port.size() + digits + hub.size()));
    if (!portNumber || !hubNumber) return {};
    return "hub" + std::to_string(*hubNumber) + "-port" + std::to_string(*portNumber);
}

}  // namespace norvale
