// Finds a flash-mode phone among the USB devices, for the road that needs no maker's driver.
#pragma once

#include <optional>
#include <string>

#include "platform/DeviceHandle.h"
#include "platform/UsbPort.h"

namespace norvale {

// A 22B8:4903 device is a phone in flash mode whatever its strings say, so neither operation
// asks for them. Nothing is kept between calls.
class UsbPhoneFinder {
public:
    explicit UsbPhoneFinder(UsbPort& usb) : usb_(usb) {}

    // The location of the first phone the bus lists, or nullopt.
    std::optional<std::string> scanForPhone();
    // The first listed phone that opens, or kInvalidDevice; the caller owns the handle and gives
    // it back to the port's close().
    DeviceHandle openPhone();

private:
    UsbPort& usb_;
};

}  // namespace norvale
