// Conversions between the seam's opaque handle values and the Win32 handles they carry.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>

#include "platform/DeviceHandle.h"
#include "platform/InterfaceEnumerator.h"

namespace norvale {

// The seam's values hold the handle's bits, so the seam's "invalid" (all bits set) is exactly
// INVALID_HANDLE_VALUE, the value CreateFileA and SetupDiGetClassDevsA fail with. A handle is as
// wide as a pointer (4 bytes in the 32-bit program, 8 in the 64-bit one), and so are the values.
static_assert(sizeof(DeviceHandle::bits) == sizeof(HANDLE));
static_assert(sizeof(DeviceSet::bits) == sizeof(HDEVINFO));
#if defined(_WIN64)
static_assert(sizeof(HANDLE) == 8);
#else
static_assert(sizeof(HANDLE) == 4);
#endif
inline HANDLE toHandle(DeviceHandle device) { return reinterpret_cast<HANDLE>(device.bits); }
inline DeviceHandle toDeviceHandle(HANDLE handle) {
    return DeviceHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

inline HDEVINFO toDevInfo(DeviceSet set) { return reinterpret_cast<HDEVINFO>(set.bits); }
inline DeviceSet toDeviceSet(HDEVINFO info) {
    return DeviceSet{reinterpret_cast<std::uintptr_t>(info)};
}

}  // namespace norvale
