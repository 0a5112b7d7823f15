// An opaque handle to an open flash-mode device interface, as the driver seam hands it out.
#pragma once

#include <cstdint>

namespace norvale {

// The value a binding gave out for an open interface. The Win32 binding stores the HANDLE's bits;
// the simulator stores its own numbers. kInvalidDevice has the bits of INVALID_HANDLE_VALUE, so a
// handle that an open did not produce is the same value on every binding.
struct DeviceHandle {
    std::uintptr_t bits = ~std::uintptr_t{0};

    constexpr bool valid() const { return bits != ~std::uintptr_t{0}; }
    friend constexpr bool operator==(DeviceHandle, DeviceHandle) = default;
};

inline constexpr DeviceHandle kInvalidDevice{};

}  // namespace norvale
