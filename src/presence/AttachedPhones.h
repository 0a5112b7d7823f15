// Every flash-mode phone attached on either road, each with an id a caller can pick it by.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Message.h"
#include "core/SessionState.h"
#include "platform/Platform.h"
#include "protocol/PhoneLink.h"

namespace norvale {

// The road's name as the command line's listing, JSON and journal give it.
inline std::string roadName(Road road) { return road == Road::usb ? "usb" : "driver"; }

struct AttachedPhone {
    // "driver:N" (N from 1, in the driver's order) or "usb:<location>": the same phone keeps its
    // id while it stays attached, as long as no phone before it on the driver road goes away.
    std::string id;
    Road road = Road::driver;
    // The socket it is plugged into, whichever phone that is: the USB location, or the socket
    // the driver interface's device names (its device path when it names none). What `list`
    // shows, --port takes and a station's folders are named after.
    std::string location;
    std::string serial;  // the USB serial number; empty when it has none or can't be told
    // What its road opens and watches it by: the interface's device path, or the USB location.
    std::string path;

    // The `number`th flash interface of the driver (from 1), and a phone on the bus.
    static AttachedPhone onDriver(std::size_t number, std::string path, std::string socket = {}) {
        std::string location = socket.empty() ? path : std::move(socket);
        return {"driver:" + std::to_string(number),
                Road::driver,
                std::move(location),
                {},
                std::move(path)};
    }
    static AttachedPhone onUsb(std::string location, std::string serial = {}) {
        std::string path = location;
        return {"usb:" + location, Road::usb, std::move(location), std::move(serial),
                std::move(path)};
    }
};

// The driver's flash interfaces (selector-2 string beginning "Motorola Flash"), then the USB
// phones with their serial numbers, each in the order its road lists them: the order the arrival
// handling tries them in, so the first is the phone an arrival would open. Each driver interface is
// opened to ask for its string and closed again; nothing else goes to any phone.
std::vector<AttachedPhone> listAttachedPhones(Platform& platform, const PhoneLink& driverLink);

// Opens `phone` on its road. The device holds kInvalidDevice when the open failed, so commands on
// it fail as they do after an arrival that could open nothing.
std::shared_ptr<const OpenDevice> openAttachedPhone(Platform& platform, const AttachedPhone& phone);

// The device paths of the driver's present interfaces, in its order, by their paths alone: no
// interface is opened. A member whose path can't be fetched is left out.
std::vector<std::string> presentDriverPaths(InterfaceEnumerator& interfaces);

// Why the open of `phone` failed, when it is something the operator must be told instead of "no
// connection": the system denies this user access to its device (noUsbPermission), or another
// program holds it (phoneInUse). Only the USB road can say so; nullopt otherwise.
std::optional<MessageId> openRefusal(Platform& platform, const AttachedPhone& phone,
                                     const OpenDevice& device);

// Whether `phone` is still attached: the driver's interface set or the bus is asked, no phone is.
bool stillAttached(Platform& platform, const AttachedPhone& phone);

}  // namespace norvale
