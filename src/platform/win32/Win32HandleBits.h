// Conversions between the seam's opaque handle values and the Win32 handles they carry.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>

#include "platform/DeviceHandle.h"
#include "platform/InterfaceEnumerator.h"

namespace norvale {

// The seam's values hold the handle's bits, so the seam's "invalid" (all bits set) is exactly
// INVALID_HANDLE_VALUE, the value CreateFileA and SetupDiGetClassDevsA fail with.
inline HANDLE toHandle(DeviceHandle device) { return reinterpret_cast<HANDLE>(device.bits); }
inline DeviceHandle toDeviceHandle(HANDLE handle) {
    return DeviceHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

inline HDEVINFO toDevInfo(DeviceSet set) { return reinterpret_cast<HDEVINFO>(set.bits); }
inline DeviceSet toDeviceSet(HDEVINFO info) {
    return DeviceSet{reinterpret_cast<std::uintptr_t>(info)};
}

}  // namespace norvale
