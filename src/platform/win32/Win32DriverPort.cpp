// Driver requests: DeviceIoControl, a bounded wait on the call's event, the completion's count.
#include "platform/win32/Win32DriverPort.h"

#include <array>

#include "platform/win32/Win32HandleBits.h"
#include "platform/win32/Win32Handles.h"

namespace norvale {

static_assert(sizeof(DWORD) == 4, "buffer sizes are handed to the driver as 32-bit counts");

ControlResult Win32DriverPort::control(DeviceHandle device, std::uint32_t code,
                                       std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output, std::uint32_t waitMs) {
    const HANDLE handle = toHandle(device);
    const UniqueHandle event{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!event) return {};

    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();

    // The driver's string query is made with a bytes-returned variable, its pipe requests
    // without one; the count that matters comes from the completion either way.
    DWORD returned = 0;
    DWORD* const returnedOut = code == kIoctlGetString ? &returned : nullptr;
    // DeviceIoControl takes a non-const input pointer but does not write through it.
    void* const in = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
    void* const out = output.empty() ? nullptr : output.data();

    const BOOL issued =
        deviceIoControl_(handle, code, in, static_cast<DWORD>(input.size()), out,
                         static_cast<DWORD>(output.size()), returnedOut, &overlapped);
    // A request the driver (or the system, for a bad handle) turned away never signals the
    // event: waiting for it would only stall the caller for the whole wait time.
    if (!issued && ::GetLastError() != ERROR_IO_PENDING) return {};

    ::WaitForSingleObject(event.get(), waitMs);

    DWORD count = 0;
    if (::GetOverlappedResult(handle, &overlapped, &count, FALSE)) return {true, count};

    if (::GetLastError() == ERROR_IO_INCOMPLETE) {
        // Still outstanding after the wait: the driver would write into `output` and signal the
        // event after both are gone. Cancel it and wait for the cancellation to complete.
        cancelIoEx_(handle, &overlapped);
        ::GetOverlappedResult(handle, &overlapped, &count, TRUE);
    }
    return {};
}

void Win32DriverPort::cancel(DeviceHandle device) {
    // Each request then completes with STATUS_CANCELLED and signals its call's event, so the
    // control() waiting on it returns at once, not completed. None outstanding: ERROR_NOT_FOUND.
    cancelIoEx_(toHandle(device), nullptr);
}

}  // namespace norvale
