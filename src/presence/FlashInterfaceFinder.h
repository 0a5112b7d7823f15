// Finds the flash-mode phone among the present interfaces of the driver's class.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeviceHandle.h"
#include "platform/InterfaceEnumerator.h"
#include "protocol/PhoneLink.h"

namespace norvale {

// The driver reports, per interface, a string that tells a phone in flash mode apart (selector
// 0x0103) and one that names the flash interface to open (selector 0x0002).
inline constexpr std::uint16_t kPresenceSelector = 0x0103;
inline constexpr std::uint16_t kFlashSelector = 0x0002;
inline constexpr std::string_view kPresencePrefix = "Motorola";
inline constexpr std::string_view kFlashPrefix = "Motorola Flash";

// True when `reply` begins with `prefix`, byte for byte and case-sensitive; a shorter reply
// never matches and what follows the prefix is not looked at.
bool beginsWithPrefix(std::string_view reply, std::string_view prefix);

// A flash interface as the walk found it: its device path, and the socket its device names
// (empty when it names none).
struct FlashInterface {
    std::string path;
    std::string socket;
};

// Both operations walk the set member by member: a member whose detail can't be fetched, that
// can't be opened or whose string doesn't match is skipped; a size query that fails any other
// way than "buffer too small" ends the walk; the lowest matching index wins and no member after
// it is touched. Nothing is kept between calls, and everything each call obtained is given back
// before it returns except what it hands to its caller. Calls on different threads share nothing.
class FlashInterfaceFinder {
public:
    FlashInterfaceFinder(InterfaceEnumerator& interfaces, const PhoneLink& link)
        : interfaces_(interfaces), link_(link) {}

    // The device path of the first interface whose selector-0x0103 string begins with
    // "Motorola", or nullopt. The scan closes the handle it opened to ask; the path is the
    // caller's.
    std::optional<std::string> scanForPhone();

    // The open handle of the first interface whose selector-2 string begins with `prefix`, or
    // kInvalidDevice. The caller owns the handle and gives it back to the enumerator's close().
    DeviceHandle openFlashInterface(std::string_view prefix);

    // Every interface whose selector-2 string begins with `prefix`, in the order of the walk;
    // each is opened to ask and closed again.
    std::vector<FlashInterface> listFlashInterfaces(std::string_view prefix);

private:
    struct Match {
        std::string devicePath;
        DeviceHandle handle;  // open; now the caller's
        std::string socket;
    };
    std::optional<Match> findFirst(std::uint16_t selector, std::string_view prefix);
    // Hands each match to `visit`, which takes over its handle and returns whether to go on.
    void walk(std::uint16_t selector, std::string_view prefix,
              const std::function<bool(Match)>& visit);
    // One member: nullopt to go on with the next index, a Match to stop there. `ended` tells
    // the walk to stop without a match.
    std::optional<Match> testMember(DeviceSet set, const InterfaceRef& member,
                                    std::uint16_t selector, std::string_view prefix, bool& ended);

    InterfaceEnumerator& interfaces_;
    const PhoneLink& link_;
};

}  // namespace norvale
