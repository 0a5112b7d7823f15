// "Port_#0003.Hub_#0001" to "hub1-port3".
#include "platform/win32/UsbSocketName.h"

#include <optional>

namespace norvale {

std::string usbSocketName(std::string_view text) {
    // The hub driver writes both numbers in decimal with at least four digits ("%04d"): a hub
    // numbered from 10000 on, which a long-running machine that saw many hubs come and go can
    // have, gets five.
    constexpr std::string_view port = "Port_#";
    constexpr std::string_view hub = ".Hub_#";
    constexpr std::size_t leastDigits = 4;
    constexpr std::size_t mostDigits = 9;  // so the number fits in an unsigned
    const auto number = [](std::string_view field) -> std::optional<unsigned> {
        if (field.size() < leastDigits || field.size() > mostDigits) return std::nullopt;
        unsigned value = 0;
        for (const char c : field) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return value;
    };
    const std::size_t hubAt = text.find(hub);
    if (text.substr(0, port.size()) != port || hubAt == std::string_view::npos) return {};
    const auto portNumber = number(text.substr(port.size(), hubAt - port.size()));
    const auto hubNumber = number(text.substr(hubAt + hub.size()));
    if (!portNumber || !hubNumber) return {};
    return "hub" + std::to_string(*hubNumber) + "-port" + std::to_string(*portNumber);
}

}  // namespace norvale
