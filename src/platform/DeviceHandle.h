// An opaque handle to an open flash-mode device, as a binding of either road hands it out.
#pragma once

#include <cstdint>

namespace norvale {

// The value a binding gave out for an open device. The Win32 bindings store the HANDLE's bits;
// the simulator and the libusb binding store numbers of their own. kInvalidDevice has the bits of
// INVALID_HANDLE_VALUE, so a handle that an open did not produce is the same value everywhere.
struct DeviceHandle {
    std::uintptr_t bits = ~std::uintptr_t{0};

    constexpr bool valid() const { return bits != ~std::uintptr_t{0}; }
    friend constexpr bool operator==(DeviceHandle, DeviceHandle) = default;
};

inline constexpr DeviceHandle kInvalidDevice{};

// How the bytes reach the phone: through the phone maker's flash-mode driver (device I/O control
// records), or straight over the phone's USB bulk endpoints. The wire data is the same on both.
enum class Road { driver, usb };

// A virtual base of the roads' enumerators, so one binding may serve both roads with one close().
// Contract: close() gives back a valid handle that the same binding's open() produced; each such
// handle is closed exactly once, by whoever owns it then. Closing kInvalidDevice is a misuse.
class DeviceCloser {
public:
    virtual ~DeviceCloser() = default;
    virtual void close(DeviceHandle device) = 0;
};

}  // namespace norvale
