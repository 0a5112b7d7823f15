// The interface walk shared by the presence scan and the open of the flash interface.
#include "presence/FlashInterfaceFinder.h"

#include <memory>
#include <new>

namespace norvale {

bool beginsWithPrefix(std::string_view reply, std::string_view prefix) {
    return reply.size() >= prefix.size() && reply.substr(0, prefix.size()) == prefix;
}

std::optional<std::string> FlashInterfaceFinder::scanForPhone() {
    std::optional<Match> match = findFirst(kPresenceSelector, kPresencePrefix);
    if (!match) return std::nullopt;
    // The scan only asks; the flash interface is opened on its own on arrival.
    interfaces_.close(match->handle);
    return std::move(match->devicePath);
}

DeviceHandle FlashInterfaceFinder::openFlashInterface(std::string_view prefix) {
    const std::optional<Match> match = findFirst(kFlashSelector, prefix);
    return match ? match->handle : kInvalidDevice;
}

std::vector<FlashInterface> FlashInterfaceFinder::listFlashInterfaces(std::string_view prefix) {
    std::vector<FlashInterface> found;
    walk(kFlashSelector, prefix, [&](Match match) {
        interfaces_.close(match.handle);
        found.push_back({std::move(match.devicePath), std::move(match.socket)});
        return true;
    });
    return found;
}

std::optional<FlashInterfaceFinder::Match> FlashInterfaceFinder::findFirst(
    std::uint16_t selector, std::string_view prefix) {
    std::optional<Match> first;
    walk(selector, prefix, [&](Match match) {
        first = std::move(match);
        return false;
    });
    return first;
}

void FlashInterfaceFinder::walk(std::uint16_t selector, std::string_view prefix,
                                const std::function<bool(Match)>& visit) {
    const DeviceSet set = interfaces_.openSet();
    if (!set.valid()) return;

    bool ended = false;
    for (std::uint32_t index = 0; !ended; ++index) {
        const std::optional<InterfaceRef> member = interfaces_.member(set, index);
        if (!member) break;
        std::optional<Match> match = testMember(set, *member, selector, prefix, ended);
        if (match && !visit(std::move(*match))) break;
    }
    interfaces_.closeSet(set);
}

std::optional<FlashInterfaceFinder::Match> FlashInterfaceFinder::testMember(
    DeviceSet set, const InterfaceRef& member, std::uint16_t selector, std::string_view prefix,
    bool& ended) {
    const DetailSizeResult size = interfaces_.detailSize(set, member);
    if (!size.sizeKnown) {
        // Anything but "buffer too small" means the set itself is in trouble: later members
        // are not tried.
        ended = true;
        return std::nullopt;
    }
    {
        // The size comes from the driver stack; a record no memory can hold ends the walk
        // rather than being taken for one member's bad detail.
        const std::unique_ptr<char[]> room(new (std::nothrow) char[size.requiredSize]);
        if (!room) {
            ended = true;
            return std::nullopt;
        }
    }
    std::optional<std::string> path = interfaces_.devicePath(set, member, size.requiredSize);
    if (!path) return std::nullopt;

    const DeviceHandle handle = interfaces_.open(*path);
    if (!handle.valid()) return std::nullopt;  // e.g. held open by another program without sharing

    const StringReply reply = link_.queryString(handle, selector);
    if (!beginsWithPrefix(reply.text, prefix)) {
        interfaces_.close(handle);
        return std::nullopt;
    }
    return Match{std::move(*path), handle, interfaces_.location(set, member)};
}

}  // namespace norvale
